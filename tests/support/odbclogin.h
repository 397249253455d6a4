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

// Shows the window, and as the operator would: selects the login page,
// types the server's address and the sa login (SQL login mode) into the
// fields and clicks the login button. False, with a warning, when a control
// it needs is hidden or disabled (nothing more is typed or clicked then);
// true says only that the button was clicked, not that the login worked.
bool loginThroughFields(TFMAIN &win, const TestServerProcess &server);

// Starts the server (extra arguments as for TestServerProcess::start) and logs
// a new window in over ODBC with the SQL login of the server's sa account.
// Returns null, with the server's error as a warning, when the server did not
// start; otherwise the window, whether or not the login succeeded.
std::unique_ptr<TFMAIN> startServerAndLogin(TestServerProcess &server, const QStringList &serverArgs = {});

} // namespace dvtest
