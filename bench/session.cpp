#include "session.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "main/tfmain.h"
#include "main/uikit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>

#include <cstdio>
#include <stdexcept>

namespace bench {

void openConnection(dv::Connection &conn, const Args &args)
{
    dv::ConnectParams p;
    p.server = args.server;
    p.user = args.user;
    p.password = args.password;
    conn.open(p);
}

QStringList &messageBoxes()
{
    static QStringList boxes;
    return boxes;
}

QStringList &errorBoxes()
{
    static QStringList boxes;
    return boxes;
}

void prepareApplication(QApplication &app)
{
    dv::loadQtTranslations(app);
    dv::applyTheme(app);
    app.setApplicationName(QString::fromUtf8(dv::kAppTitle));
    app.setApplicationDisplayName(QString::fromUtf8(dv::kAppTitle));
    dv::BoxHooks::message = [](const QString &t) { messageBoxes() << t; };
    dv::BoxHooks::error = [](const QString &t) { errorBoxes() << t; };
    dv::BoxHooks::confirm = [](const QString &) { return false; };
}

int checkBoxes()
{
    if (errorBoxes().isEmpty())
        return 0;
    for (const QString &t : errorBoxes())
        std::fprintf(stderr, "error box: %s\n", t.toUtf8().constData());
    return 1;
}

void processEventsFor(double seconds)
{
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (t.elapsed() < seconds * 1000);
}

void login(TFMAIN &w, const Args &args)
{
    w.tb_server->setText(args.server);
    w.rb1->setChecked(true);
    w.tb_uid->setText(args.user);
    w.tb_pwd->setText(args.password);
    w.Button1Click();
    if (!w.conn->isConnected())
        throw std::runtime_error("login failed");
}

} // namespace bench
