#include "support/odbclogin.h"

#include <QLineEdit>
#include <QRadioButton>
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

void loginThroughFields(TFMAIN &win, const TestServerProcess &server)
{
    win.tb_server->setText(server.server());
    win.rb1->setChecked(true);
    win.tb_uid->setText(server.user());
    win.tb_pwd->setText(server.password());
    win.Button1Click();
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
