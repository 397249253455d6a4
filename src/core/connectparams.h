// What the operator typed on the login page, as the client layer receives it.
#pragma once

#include <QString>

namespace dv {

struct ConnectParams {
    QString server;          // "host", "host\\INSTANCE" or "host,port"
    bool integrated = false; // integrated (Kerberos/SSPI) authentication
    QString user;
    QString password;
    int loginTimeoutSec = 15;
};

} // namespace dv
