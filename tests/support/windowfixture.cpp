#include "support/windowfixture.h"

#include "support/operatorinput.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

namespace dvtest {

FakeWindow::FakeWindow()
{
    auto c = std::make_unique<FakeConnection>();
    fake = c.get();
    w = std::make_unique<TFMAIN>(std::move(c));
}

bool FakeWindow::login(const QString &server, const QString &user)
{
    const bool done = showWindow(*w) && (w->pc->currentIndex() == 0 || clickPage(*w, 0))
                      && typeInto(w->tb_server, server) && (w->rb1->isChecked() || clickOn(w->rb1))
                      && typeInto(w->tb_uid, user) && clickOn(w->Button1);
    if (!done)
        QTest::qFail("the login page could not be used as the operator uses it", __FILE__, __LINE__);
    return done;
}

} // namespace dvtest
