// The login page over the fake connection: log in and out in both modes, the
// silent failures, the Enter chain, and the database list in the pickers.
#include "app/application.h"
#include "client/query.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/fakeconnection.h"
#include "support/operatorinput.h"
#include "support/windowfixture.h"

#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include <memory>
#include <optional>

namespace {

const QString kCatalogue = QStringLiteral("select name from master..sysdatabases order by name\r\n");

struct Window : dvtest::FakeWindow {
    Window()
    {
        w->show();
        w->activateWindow();
    }
    // The log's entry texts (the lines between time stamp and separator).
    QStringList entries() const
    {
        QStringList out;
        const QStringList lines = w->tb_memo->toPlainText().split(QLatin1Char('\n'));
        QStringList current;
        for (int i = 0; i < lines.size(); ++i) {
            if (lines[i] == QString(38, QLatin1Char('-'))) {
                out << current.mid(1).join(QLatin1String("\r\n"));
                current.clear();
            } else {
                current << lines[i];
            }
        }
        return out;
    }
    QList<QComboBox *> pickers() const { return {w->cb_db, w->cb_db3, w->cb_db5, w->cb_db6}; }
};

// The page shows one of its two states, whatever the connection says: logged
// out (button "登录[&1]", "未连接", server field usable) or logged in
// ("断开[&1]", "登录中", all five inputs locked).
QString stateProblem(const TFMAIN &w)
{
    const bool locked = !w.tb_server->isEnabled() && !w.rb1->isEnabled() && !w.rb2->isEnabled()
                        && !w.tb_uid->isEnabled() && !w.tb_pwd->isEnabled();
    if (w.Button1->text() == QStringLiteral("登录[&1]") && w.lbl_ini->text() == QStringLiteral("未连接")
        && w.tb_server->isEnabled() && w.rb1->isEnabled() && w.rb2->isEnabled())
        return {};
    if (w.Button1->text() == QStringLiteral("断开[&1]") && w.lbl_ini->text() == QStringLiteral("登录中") && locked)
        return {};
    return QStringLiteral("button \"%1\", label \"%2\", server field %3")
        .arg(w.Button1->text(), w.lbl_ini->text(),
             w.tb_server->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

void enter(QWidget *w)
{
    QTest::keyClick(w, Qt::Key_Return);
}

} // namespace

class TestLogin : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startState();
    void loginSqlMode();
    void missingFieldsDoNothing_data();
    void missingFieldsDoNothing();
    void failedOpenIsSilent();
    void listFailureLeavesConnectionOpen();
    void ntMode();
    void logoutRestoresDatabaseMode();
    void enterChain_data();
    void enterChain();
    void keypadEnterLogsIn();
    void modeArrowKeys_data();
    void modeArrowKeys();
    void pickersFilledInOrder();
    void refreshKeepsPickersOnFailure();
    void passwordMask();
    void lostLinkKeepsLoggedInUntilLogout();

private:
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestLogin::init()
{
    m_boxes.emplace();
}

void TestLogin::cleanup()
{
    QVERIFY2(m_boxes->errors.isEmpty(), qPrintable(m_boxes->errors.join(QLatin1Char('|'))));
    m_boxes.reset();
}

void TestLogin::startState()
{
    Window win;
    TFMAIN &w = *win.w;
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.Button2->text(), QStringLiteral("退出[&X]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QCOMPARE(w.lbl_ini->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(w.lbl_ini->font().pixelSize(), 14);
    QVERIFY(w.rb1->isChecked());
    QCOMPARE(w.rb1->text(), QStringLiteral("数据库模式"));
    QCOMPARE(w.rb2->text(), QStringLiteral("NT模式"));
    for (QWidget *f : {(QWidget *)w.tb_server, (QWidget *)w.rb1, (QWidget *)w.rb2, (QWidget *)w.tb_uid,
                       (QWidget *)w.tb_pwd})
        QVERIFY(f->isEnabled());
    // Tab order of the page.
    QCOMPARE(w.tb_server->nextInFocusChain(), w.rb1);
    QCOMPARE(w.rb1->nextInFocusChain(), w.rb2);
    QCOMPARE(w.rb2->nextInFocusChain(), w.tb_uid);
    QCOMPARE(w.tb_uid->nextInFocusChain(), w.tb_pwd);
    QCOMPARE(w.tb_pwd->nextInFocusChain(), w.Button1);
    QCOMPARE(w.Button1->nextInFocusChain(), w.Button2);
    for (QComboBox *cb : win.pickers()) {
        QVERIFY(cb->isEditable());
        QCOMPARE(cb->insertPolicy(), QComboBox::NoInsert);
        QCOMPARE(cb->count(), 0);
    }
    // Button2 closes the window.
    w.Button2->click();
    QVERIFY(!w.isVisible());
}

void TestLogin::loginSqlMode()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("127.0.0.1,1433")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::typeInto(w.tb_pwd, QStringLiteral("p;w=d")));
    w.Button1->click();
    QCOMPARE(win.fake->opens.size(), 1);
    const dv::ConnectParams p = win.fake->opens[0];
    QCOMPARE(p.server, QStringLiteral("127.0.0.1,1433"));
    QVERIFY(!p.integrated);
    QCOMPARE(p.user, QStringLiteral("sa"));
    QCOMPARE(p.password, QStringLiteral("p;w=d"));
    QCOMPARE(p.loginTimeoutSec, 15);
    QVERIFY(win.fake->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("登录中"));
    for (QWidget *f : {(QWidget *)w.tb_server, (QWidget *)w.rb1, (QWidget *)w.rb2, (QWidget *)w.tb_uid,
                       (QWidget *)w.tb_pwd})
        QVERIFY(!f->isEnabled());
    QCOMPARE(win.entries(), QStringList{QStringLiteral("成功登录数据库服务器:[127.0.0.1,1433]")});
    QCOMPARE(win.fake->texts(), QStringList{kCatalogue});
    QVERIFY(m_boxes->messages.isEmpty());
    // The other pages are open now.
    QVERIFY(dvtest::clickPage(w, 5));
    QCOMPARE(w.pc->currentIndex(), 5);
    QVERIFY(m_boxes->messages.isEmpty());
}

void TestLogin::missingFieldsDoNothing_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<bool>("nt");
    QTest::newRow("no server") << "" << "sa" << false;
    QTest::newRow("no server, NT") << "" << "" << true;
    QTest::newRow("no user") << "srv" << "" << false;
}

void TestLogin::missingFieldsDoNothing()
{
    QFETCH(QString, server);
    QFETCH(QString, uid);
    QFETCH(bool, nt);
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::typeInto(w.tb_server, server));
    QVERIFY(dvtest::typeInto(w.tb_uid, uid));
    QVERIFY(dvtest::typeInto(w.tb_pwd, QStringLiteral("x")));
    if (nt)
        w.rb2->click();
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(win.fake->opens.isEmpty());
    QVERIFY(win.fake->calls.isEmpty());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(w.tb_memo->toPlainText().isEmpty());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
}

void TestLogin::failedOpenIsSilent()
{
    Window win;
    TFMAIN &w = *win.w;
    win.fake->failOpen = true;
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::typeInto(w.tb_pwd, QStringLiteral("bad")));
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QCOMPARE(win.fake->opens.size(), 1);
    QVERIFY(!win.fake->isConnected());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(w.tb_memo->toPlainText().isEmpty());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_server->isEnabled() && w.tb_uid->isEnabled());
    QCOMPARE(w.tb_pwd->text(), QStringLiteral("bad")); // the fields keep what was typed
    // Retry succeeds.
    win.fake->failOpen = false;
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(win.fake->isConnected());
    QCOMPARE(win.entries().size(), 1);
}

void TestLogin::listFailureLeavesConnectionOpen()
{
    Window win;
    TFMAIN &w = *win.w;
    win.fake->handler = [](const dv::Statement &, bool) -> dv::RunResult {
        throw dv::DbError(QStringLiteral("Invalid object name 'master..sysdatabases'."));
    };
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(win.fake->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_server->isEnabled());
    QVERIFY(w.tb_memo->toPlainText().isEmpty());
    QVERIFY(m_boxes->messages.isEmpty());
    // The next press takes the logout path.
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(!win.fake->isConnected());
    QCOMPARE(win.fake->opens.size(), 1);
    QCOMPARE(win.entries(), QStringList{QStringLiteral("成功退出数据库服务器:[srv]")});
}

void TestLogin::ntMode()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("host\\INST")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("someone")));
    QVERIFY(dvtest::typeInto(w.tb_pwd, QStringLiteral("secret")));
    w.rb2->click();
    QVERIFY(!w.tb_uid->isEnabled());
    QVERIFY(!w.tb_pwd->isEnabled());
    QCOMPARE(w.tb_uid->text(), QStringLiteral("someone"));
    w.rb1->click();
    QVERIFY(w.tb_uid->isEnabled() && w.tb_pwd->isEnabled());
    w.rb2->click();
    w.rb2->setFocus();
    enter(w.rb2);
    QCOMPARE(win.fake->opens.size(), 1);
    const dv::ConnectParams p = win.fake->opens[0];
    QVERIFY(p.integrated);
    QCOMPARE(p.server, QStringLiteral("host\\INST"));
    QVERIFY(p.user.isEmpty());
    QVERIFY(p.password.isEmpty());
    QCOMPARE(win.entries(), QStringList{QStringLiteral("成功登录数据库服务器:[host\\INST]")});
    // NT mode without a user name logs in too.
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    w.rb2->click();
    QVERIFY(w.tb_uid->text().isEmpty());
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QCOMPARE(win.fake->opens.size(), 2);
    QVERIFY(win.fake->opens[1].integrated);
}

void TestLogin::logoutRestoresDatabaseMode()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(QTest::qWaitForWindowActive(w.windowHandle()));
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("u")));
    QVERIFY(dvtest::typeInto(w.tb_pwd, QStringLiteral("p")));
    w.rb2->click();
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(win.fake->isConnected());
    w.Button1->setFocus();
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(!win.fake->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_uid->text().isEmpty());
    QVERIFY(w.tb_pwd->text().isEmpty());
    QVERIFY(w.rb1->isChecked());
    QVERIFY(!w.rb2->isChecked());
    for (QWidget *f : {(QWidget *)w.tb_server, (QWidget *)w.rb1, (QWidget *)w.rb2, (QWidget *)w.tb_uid,
                       (QWidget *)w.tb_pwd})
        QVERIFY(f->isEnabled());
    QCOMPARE(QApplication::focusWidget(), w.tb_server);
    QCOMPARE(w.tb_server->text(), QStringLiteral("srv"));
    QCOMPARE(win.entries(), (QStringList{QStringLiteral("成功登录数据库服务器:[srv]"),
                                         QStringLiteral("成功退出数据库服务器:[srv]")}));
    // Logged out: the gate is closed again.
    QVERIFY(dvtest::clickPage(w, 2));
    QCOMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(w.pc->currentIndex(), 0);
}

void TestLogin::enterChain_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expectFocus");
    QTest::addColumn<int>("expectOpens");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("server filled") << "tb_server" << "s" << "" << int(Qt::Key_Return) << "rb1" << 0 << 0;
    QTest::newRow("server empty") << "tb_server" << "" << "" << int(Qt::Key_Return) << "tb_server" << 0 << 0;
    QTest::newRow("server blank counts") << "tb_server" << " " << "" << int(Qt::Key_Return) << "rb1" << 0 << 0;
    QTest::newRow("server, other key") << "tb_server" << "s" << "" << int(Qt::Key_Tab) << "rb1" << 0 << 0;
    QTest::newRow("server, letter") << "tb_server" << "s" << "" << int(Qt::Key_A) << "tb_server" << 0 << 0;
    QTest::newRow("rb1") << "rb1" << "" << "" << int(Qt::Key_Return) << "tb_uid" << 0 << 0;
    QTest::newRow("uid filled") << "tb_uid" << "s" << "sa" << int(Qt::Key_Return) << "tb_pwd" << 0 << 0;
    QTest::newRow("uid empty") << "tb_uid" << "s" << "" << int(Qt::Key_Return) << "tb_uid" << 0 << 0;
    QTest::newRow("pwd logs in") << "tb_pwd" << "s" << "sa" << int(Qt::Key_Return) << "tb_pwd" << 1 << 0;
    QTest::newRow("pwd, no user") << "tb_pwd" << "s" << "" << int(Qt::Key_Return) << "tb_pwd" << 0 << 0;
    QTest::newRow("pwd, letter") << "tb_pwd" << "s" << "sa" << int(Qt::Key_B) << "tb_pwd" << 0 << 0;
    // Shift+Enter still types a carriage return; Ctrl+Enter and Alt+Enter do not.
    QTest::newRow("pwd, shift+enter") << "tb_pwd" << "s" << "sa" << int(Qt::Key_Return) << "tb_pwd" << 1
                                      << int(Qt::ShiftModifier);
    QTest::newRow("pwd, ctrl+enter") << "tb_pwd" << "s" << "sa" << int(Qt::Key_Return) << "tb_pwd" << 0
                                     << int(Qt::ControlModifier);
    QTest::newRow("server, alt+enter") << "tb_server" << "s" << "" << int(Qt::Key_Return) << "tb_server" << 0
                                       << int(Qt::AltModifier);
}

void TestLogin::enterChain()
{
    QFETCH(QString, field);
    QFETCH(QString, server);
    QFETCH(QString, uid);
    QFETCH(int, key);
    QFETCH(QString, expectFocus);
    QFETCH(int, expectOpens);
    QFETCH(int, modifiers);
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(QTest::qWaitForWindowActive(w.windowHandle()));
    QVERIFY(dvtest::typeInto(w.tb_server, server));
    QVERIFY(dvtest::typeInto(w.tb_uid, uid));
    auto *start = w.findChild<QWidget *>(field);
    QVERIFY(start);
    start->setFocus();
    QCOMPARE(QApplication::focusWidget(), start);
    QTest::keyClick(start, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (expectOpens == 0) // after a login the fields are disabled and the focus moves on
        QCOMPARE(QApplication::focusWidget()->objectName(), expectFocus);
    QCOMPARE(win.fake->opens.size(), expectOpens);
    if (key == Qt::Key_A)
        QCOMPARE(w.tb_server->text(), server + QLatin1Char('a'));
}

void TestLogin::keypadEnterLogsIn()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QTest::keyClick(w.tb_pwd, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(win.fake->opens.size(), 1);
}

void TestLogin::modeArrowKeys_data()
{
    QTest::addColumn<QString>("arrows"); // pressed one after another on the mode reached by Enter
    QTest::addColumn<bool>("ntMode");    // the mode chosen and focused afterwards
    QTest::newRow("down") << "down" << true;
    QTest::newRow("right") << "right" << true;
    QTest::newRow("up at the first") << "up" << false;
    QTest::newRow("left at the first") << "left" << false;
    QTest::newRow("down, up") << "down up" << false;
    QTest::newRow("down, left") << "down left" << false;
    QTest::newRow("right, up") << "right up" << false;
    QTest::newRow("down at the last") << "down down" << true;
    QTest::newRow("up, down, up, down") << "up down up down" << true;
}

// Every arrow key moves between the two modes: Down and Up as Right and
// Left. Enter then goes on from the mode reached: NT mode logs in, database
// mode moves to the user field.
void TestLogin::modeArrowKeys()
{
    QFETCH(QString, arrows);
    QFETCH(bool, ntMode);
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(QTest::qWaitForWindowActive(w.windowHandle()));
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    w.tb_server->setFocus();
    enter(w.tb_server);
    QCOMPARE(QApplication::focusWidget(), w.rb1);
    const QHash<QString, Qt::Key> keys{{"down", Qt::Key_Down}, {"up", Qt::Key_Up},
                                       {"left", Qt::Key_Left}, {"right", Qt::Key_Right}};
    for (const QString &a : arrows.split(QLatin1Char(' ')))
        QTest::keyClick(QApplication::focusWidget(), keys.value(a));
    QRadioButton *mode = ntMode ? w.rb2 : w.rb1;
    QCOMPARE(QApplication::focusWidget(), mode);
    QVERIFY(mode->isChecked());
    QCOMPARE(w.tb_uid->isEnabled(), !ntMode);
    QCOMPARE(w.tb_pwd->isEnabled(), !ntMode);
    enter(mode);
    if (ntMode) {
        QCOMPARE(win.fake->opens.size(), 1);
        QVERIFY(win.fake->opens[0].integrated);
    } else {
        QCOMPARE(win.fake->opens.size(), 0);
        QCOMPARE(QApplication::focusWidget(), w.tb_uid);
    }
}

void TestLogin::pickersFilledInOrder()
{
    Window win;
    TFMAIN &w = *win.w;
    win.fake->databases = {QStringLiteral("master"), QStringLiteral("model"), QStringLiteral("msdb"),
                           QStringLiteral("Sales"), QStringLiteral("tempdb")};
    // Text typed into a picker in an earlier session does not survive the
    // next login.
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(w.conn->isConnected());
    QVERIFY(dvtest::typeOnPage(w, w.cb_db, QStringLiteral("typed before")));
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(!w.conn->isConnected());
    win.fake->calls.clear();
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::clickOn(w.Button1));
    for (QComboBox *cb : win.pickers()) {
        QStringList items;
        for (int i = 0; i < cb->count(); ++i)
            items << cb->itemText(i);
        QCOMPARE(items, win.fake->databases);
        QCOMPARE(cb->currentText(), QString());
        QCOMPARE(cb->currentIndex(), -1);
    }
    QVERIFY(!w.q->isOpen());
    // A refresh replaces the list and drops typed text.
    win.fake->databases = {QStringLiteral("master")};
    QVERIFY(dvtest::typeOnPage(w, w.cb_db5, QStringLiteral("typed")));
    w.RefreshDatabaseList();
    for (QComboBox *cb : win.pickers()) {
        QCOMPARE(cb->count(), 1);
        QCOMPARE(cb->currentText(), QString());
    }
    QCOMPARE(win.fake->texts(), (QStringList{kCatalogue, kCatalogue}));
    QVERIFY(win.fake->calls[1].open);
}

void TestLogin::refreshKeepsPickersOnFailure()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("srv")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QCOMPARE(w.cb_db3->count(), 4);
    QVERIFY(dvtest::typeOnPage(w, w.cb_db3, QStringLiteral("keep")));
    win.fake->handler = [](const dv::Statement &, bool) -> dv::RunResult {
        throw dv::DbError(QStringLiteral("Communication link failure"));
    };
    QVERIFY_THROWS_EXCEPTION(dv::DbError, w.RefreshDatabaseList());
    QCOMPARE(w.cb_db3->count(), 4);
    QCOMPARE(w.cb_db3->currentText(), QStringLiteral("keep"));
}

void TestLogin::passwordMask()
{
    Window win;
    TFMAIN &w = *win.w;
    QCOMPARE(w.tb_pwd->echoMode(), QLineEdit::Password);
    QCOMPARE(w.tb_pwd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w.tb_pwd), int('*'));
}

void TestLogin::lostLinkKeepsLoggedInUntilLogout()
{
    // The driver reports the link lost: the window stays logged in, each
    // operation fails with its own message, "断开[&1]" logs out without
    // another login attempt, and a login to another server works.
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(win.login(QStringLiteral("first")));
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    win.fake->dropLink();

    QVERIFY(dvtest::clickPage(w, 2)); // the gate lets the page open
    QCOMPARE(w.pc->currentIndex(), 2);
    QCOMPARE(m_boxes->messages, QStringList{});
    QVERIFY(dvtest::typeInto(w.cb_db, QStringLiteral("master")));
    QVERIFY(dvtest::typeInto(w.tb_bak_path, QStringLiteral("/srv/x.bak")));
    QVERIFY(dvtest::clickOn(w.Button3));
    QCOMPARE(m_boxes->messages, QStringList{QStringLiteral("错误编号:1001\r\n\r\n备份失败,请检查网络情况")});
    QVERIFY(win.entries().last().endsWith(QStringLiteral("操作失败")));
    QCOMPARE(stateProblem(w), QString());

    QVERIFY(dvtest::clickPage(w, 9));
    QVERIFY(dvtest::typeInto(w.RtSql, QStringLiteral("select 1")));
    const int entriesBefore = win.entries().size();
    QVERIFY(dvtest::clickOn(w.btnExec));
    QCOMPARE(m_boxes->errors, QStringList{QStringLiteral("Communication link failure.")});
    m_boxes->errors.clear();
    QCOMPARE(win.entries().size(), entriesBefore);
    QCOMPARE(m_boxes->messages.size(), 1); // not the console's "请先连接服务器！"

    QVERIFY(dvtest::clickPage(w, 0));
    QCOMPARE(stateProblem(w), QString());
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(!win.fake->isConnected());
    QCOMPARE(win.fake->opens.size(), 1); // logged out, no login attempt
    QCOMPARE(stateProblem(w), QString());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QVERIFY(w.tb_uid->text().isEmpty() && w.tb_pwd->text().isEmpty() && w.rb1->isChecked());
    QCOMPARE(win.entries().last(), QStringLiteral("成功退出数据库服务器:[first]"));
    // Logged out: the gate is closed.
    QVERIFY(dvtest::clickPage(w, 2));
    QCOMPARE(w.pc->currentIndex(), 0);
    QCOMPARE(m_boxes->messages.size(), 2);

    QVERIFY(win.login(QStringLiteral("second")));
    QCOMPARE(win.fake->opens.size(), 2);
    QCOMPARE(win.fake->opens[1].server, QStringLiteral("second"));
    QVERIFY(win.fake->isConnected());
    QCOMPARE(stateProblem(w), QString());
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    QCOMPARE(win.entries().last(), QStringLiteral("成功登录数据库服务器:[second]"));
}

int main(int argc, char **argv)
{
    // The program's application object: errors escaping a handler reach the
    // default error display, as in the program.
    dv::Application app(argc, argv);
    TestLogin t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}
#include "tst_login.moc"
