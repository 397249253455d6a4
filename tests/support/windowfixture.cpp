#include "support/windowfixture.h"

namespace dvtest {

FakeWindow::FakeWindow()
{
    auto c = std::make_unique<FakeConnection>();
    fake = c.get();
    w = std::make_unique<TFMAIN>(std::move(c));
}

} // namespace dvtest
