#include "support/odbclogin.h"

#include "support/operatorinput.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtGlobal>

namespace dvtest {

dv::ConnectParams connectParams(const TestServerProcess &server)
{
    dv::ConnectParams p;
    p.server = server.server();
    p.user = server.user();
    p.password = server.password();
    return p;
}

bool loginThroughFields(TFMAIN &win, const TestServerProcess &server)
{
    if (!showWindow(win))
        return false;
    if (win.pc->currentIndex() != 0 && !clickPage(win, 0))
        return false;
    if (!typeInto(win.tb_server, server.server()))
        return false;
    if (!win.rb1->isChecked() && !clickOn(win.rb1))
        return false;
    return typeInto(win.tb_uid, server.user()) && typeInto(win.tb_pwd, server.password()) && clickOn(win.Button1);
}

std::unique_ptr<TFMAIN> startServerAndLogin(TestServerProcess &server, const QStringList &serverArgs)
{
    if (!server.start(serverArgs)) {
        qWarning("%s", qPrintable(server.error()));
        return nullptr;
    }
    auto win = std::make_unique<TFMAIN>(dv::makeOdbcConnection());
    loginThroughFields(*win, server);
    return win;
}

} // namespace dvtest
