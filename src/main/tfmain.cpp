#include "tfmain.h"

#include "connection/dbclient.h"
#include "connection/query.h"
#include "console/dbnavigator.h"
#include "main/uikit.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

TFMAIN::TFMAIN(std::unique_ptr<dv::Connection> connection, QWidget *parent)
    : QMainWindow(parent), conn(std::move(connection))
{
    q = new dv::Query(QStringLiteral("q"), conn.get(), this);
    AdoQExec = new dv::Query(QStringLiteral("AdoQExec"), conn.get(), this);
    buildFrame();
    buildLoginPage();
    buildMaintenancePages();
    buildLogPage();
    buildConsolePage();
    buildNavigator();
}

TFMAIN::~TFMAIN() = default;

void TFMAIN::buildFrame()
{
    setWindowTitle(QString::fromUtf8(dv::kAppTitle));
    auto *central = new QWidget(this);
    auto *v = new QVBoxLayout(central);
    Panel1 = new QFrame(central);
    Panel1->setFixedHeight(41);
    lbl_info = new QLabel(Panel1);
    v->addWidget(Panel1);
    pc = new QTabWidget(central);
    v->addWidget(pc);
    setCentralWidget(central);
    QWidget **pages[] = {&ts0, &ts1, &ts2, &ts3, &ts4, &ts5, &ts6, &ts7, &ts8, &TabSheet1};
    const char *captions[] = {"登录[&L]", "创建[&R]", "备份[&B]", "还原[&R]", "分离[&C]",
                              "附加[&A]", "删除[&D]", "压缩[&Z]", "日志[&O]", "执行SQL"};
    for (int i = 0; i < 10; ++i) {
        *pages[i] = new QWidget(pc);
        pc->addTab(*pages[i], QString::fromUtf8(captions[i]));
    }
    statusPanel0 = new QLabel(this);
    statusPanel1 = new QLabel(this);
    statusBar()->addWidget(statusPanel0);
    statusBar()->addWidget(statusPanel1, 1);
}

void TFMAIN::buildLogPage()
{
    auto *l = new QVBoxLayout(ts8);
    tb_memo = new QPlainTextEdit(ts8);
    l->addWidget(tb_memo);
}

void TFMAIN::onKeyPress(QWidget *w, void (TFMAIN::*handler)(QKeyEvent *))
{
    m_keyHandlers.insert(w, handler);
    w->installEventFilter(this);
}

bool TFMAIN::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::KeyPress) {
        auto it = m_keyHandlers.constFind(watched);
        if (it != m_keyHandlers.constEnd())
            (this->*it.value())(static_cast<QKeyEvent *>(e));
    }
    return QMainWindow::eventFilter(watched, e);
}

void TFMAIN::showEvent(QShowEvent *e) { QMainWindow::showEvent(e); }
void TFMAIN::closeEvent(QCloseEvent *e) { QMainWindow::closeEvent(e); }
void TFMAIN::FormShow() {}
void TFMAIN::FormClose() {}
void TFMAIN::Button2Click() { close(); }
void TFMAIN::pcChange(int) {}
void TFMAIN::lbl_infoClick() {}
QString TFMAIN::pageHint(int) { return {}; }
void TFMAIN::AppendLog(const QString &) {}
void TFMAIN::tb_memoKeyDown(QKeyEvent *) {}
void TFMAIN::saveLogTo(const QString &) {}
