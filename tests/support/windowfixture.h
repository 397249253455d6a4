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
};

} // namespace dvtest
