// Helpers for benchmarks that drive the client layer or the real window.
#pragma once

#include "benchutil.h"

#include <QStringList>

class QApplication;
class TFMAIN;

namespace dv {
class Connection;
}

namespace bench {

// Opens `conn` on the server named by --server/--user/--password.
void openConnection(dv::Connection &conn, const Args &args);

// What the program entry does before the window: Qt's Chinese texts, the
// theme, the title. Also routes message and error boxes to records instead of
// showing them.
void prepareApplication(QApplication &app);
// Boxes shown since prepareApplication().
QStringList &messageBoxes();
QStringList &errorBoxes();
// 0 when no error box was shown; otherwise prints them and returns 1.
int checkBoxes();

void processEventsFor(double seconds);

// Logs the window in the way the operator does: server, user and password
// fields, then the login button's handler. Throws std::runtime_error when the
// window did not end up connected.
void login(TFMAIN &w, const Args &args);

} // namespace bench
