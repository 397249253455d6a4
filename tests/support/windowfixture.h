// A main window over an in-process fake connection, for the GUI unit tests.
#pragma once

#include "main/tfmain.h"
#include "support/fakeconnection.h"

#include <memory>

namespace dvtest {

struct FakeWindow {
    FakeConnection *fake = nullptr; // owned by the window
    std::unique_ptr<TFMAIN> w;

    FakeWindow();

    // As the operator: shows the window, selects the login page, types the
    // server and user name (SQL login mode) and clicks the login button.
    // Records a test failure and returns false when a control it needs is
    // hidden or disabled.
    bool login(const QString &server = QStringLiteral("srv"), const QString &user = QStringLiteral("sa"));
};

} // namespace dvtest
