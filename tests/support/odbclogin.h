// Logging a real TFMAIN in through ODBC against a started test server, for
// the end-to-end tests.
#pragma once

#include "client/dbclient.h"
#include "main/tfmain.h"
#include "support/testserverprocess.h"

#include <QStringList>

#include <memory>

namespace dvtest {

// The connection parameters for the server's sa account.
dv::ConnectParams connectParams(const TestServerProcess &server);

// Types the server's address and sa login into the window's login page (SQL
// login mode) and presses the login button.
void loginThroughFields(TFMAIN &win, const TestServerProcess &server);

// Starts the server (extra arguments as for TestServerProcess::start) and logs
// a new window in over ODBC with the SQL login of the server's sa account.
// Returns null, with the server's error as a warning, when the server did not
// start; otherwise the window, whether or not the login succeeded.
std::unique_ptr<TFMAIN> startServerAndLogin(TestServerProcess &server, const QStringList &serverArgs = {});

} // namespace dvtest
