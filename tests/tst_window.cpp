// The main window: page gate, status hints, navigator visibility, page
// accelerators, closing, the operation log in the memo and F10; the shared
// boxes and dialogs; the application object and its theme.
#include "app/application.h"
#include "console/dbnavigator.h"
#include "core/oplog.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/fakeconnection.h"
#include "support/operatorinput.h"
#include "support/windowfixture.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

const QString kGateMessage = QStringLiteral("错误编号:1000\r\n\r\n还没有登录,不能使用此功能,请先登录");

struct Window : dvtest::FakeWindow {
    QString memoText() const { return w->tb_memo->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")); }
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void frame();
    void gateRefusesEveryPage_data();
    void gateRefusesEveryPage();
    void hintsAfterLogin();
    void navigatorStaysVisible();
    void operatorInputRefused_data();
    void operatorInputRefused();
    void accelerators();
    void firstShow();
    void closingClosesConnection();

    void appendLogEntries();
    void appendLogLargeMemo();
    void f10SavesGbk_data();
    void f10SavesGbk();
    void f10ElsewhereDoesNothing();
    void f10SaveFailureShowsError();

    void boxes();
    void fileDialogRemembers();
    void openDialogAcceptsMissingFile();
    void pathEditButton();

    void exceptionsReachErrorDisplay();
    void missingTheme();
    void chineseFontInstalled();
    void qtTranslations();
    void memoFollowsEntries();

private:
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
    int m_dialogs = 0;
};

void TestWindow::init()
{
    m_dialogs = 0;
    m_boxes.emplace();
    dv::FileDialog::responder = nullptr;
}

void TestWindow::cleanup()
{
    m_boxes.reset();
    dv::FileDialog::responder = nullptr;
}

void TestWindow::frame()
{
    Window win;
    TFMAIN &w = *win.w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Dorvane1.0.2"));
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowSystemMenuHint);
    QCOMPARE(w.font().pixelSize(), 19);
    QCOMPARE(w.font().families().value(0), QStringLiteral("Segoe UI Light"));
    QCOMPARE(w.Panel1->height(), 41);
    QVERIFY(w.lbl_info->text().startsWith(QStringLiteral("个人空间[")));
    QCOMPARE(w.lbl_info->font().pixelSize(), 14);
    QVERIFY(w.lbl_info->font().bold());
    QCOMPARE(w.lbl_info->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(w.pc->count(), 10);
    const QStringList captions{"登录[&L]", "创建[&R]", "备份[&B]", "还原[&R]", "分离[&C]",
                               "附加[&A]", "删除[&D]", "压缩[&Z]", "日志[&O]", "执行SQL"};
    QWidget *pages[] = {w.ts0, w.ts1, w.ts2, w.ts3, w.ts4, w.ts5, w.ts6, w.ts7, w.ts8, w.TabSheet1};
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(w.pc->tabText(i), captions[i]);
        QCOMPARE(w.pc->widget(i), pages[i]);
    }
    QCOMPARE(w.pc->currentIndex(), 0);
    QCOMPARE(w.statusPanel0->width(), 200);
    QVERIFY(w.statusPanel0->alignment() & Qt::AlignHCenter);
    QVERIFY(!w.statusPanel0->text().isEmpty());
    QCOMPARE(w.statusPanel1->text(), QStringLiteral("如果没有登录,请登录;如果登录,可进行其他操作"));
    QCOMPARE(w.statusBar()->height(), 55);
    QVERIFY(w.DBNaV && w.DBNaV->isHidden());
    // The memo: editable, wrapping, vertical scroll bar only.
    QVERIFY(!w.tb_memo->isReadOnly());
    QCOMPARE(w.tb_memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(w.tb_memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(w.tb_memo->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.SaveDialog2->title(), QStringLiteral("日志保存窗口"));
    QCOMPARE(w.SaveDialog2->filter(), QStringLiteral("所有文件|*.TXT;*.SQL|TXT文件|*.TXT|SQL文件|*.SQL"));
    QCOMPARE(w.SaveDialog2->mode(), dv::FileDialog::Save);
}

void TestWindow::gateRefusesEveryPage_data()
{
    QTest::addColumn<int>("page");
    for (int i = 1; i <= 9; ++i)
        QTest::addRow("page %d", i) << i;
}

void TestWindow::gateRefusesEveryPage()
{
    QFETCH(int, page);
    Window win;
    TFMAIN &w = *win.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.tb_uid->setFocus();
    QSignalSpy changes(w.pc, &QTabWidget::currentChanged);
    QVERIFY(dvtest::clickPage(w, page));
    QCOMPARE(m_boxes->messages, QStringList{kGateMessage}); // once: the return to page 0 does not run the gate again
    QCOMPARE(changes.count(), 2);
    QCOMPARE(w.pc->currentIndex(), 0);
    QCOMPARE(w.statusPanel1->text(), TFMAIN::pageHint(0));
    QVERIFY(w.DBNaV->isHidden());
    QCOMPARE(w.focusWidget(), w.tb_server);
    QVERIFY(w.tb_memo->toPlainText().isEmpty()); // nothing is logged
}

void TestWindow::hintsAfterLogin()
{
    Window win;
    TFMAIN &w = *win.w;
    win.login();
    QVERIFY(win.fake->isConnected());
    const QStringList hints{"如果没有登录,请登录;如果登录,可进行其他操作", "可以进行数据库的添加操作",
                            "可以进行数据库的备份操作", "可以进行数据库的还原操作",
                            "可以进行数据库的分离操作", "可以进行数据库的附加操作",
                            "可以进行数据库的删除操作", "可以进行数据库的压缩操作",
                            "所有的数据库有关操作,可使用F10进行备份", "可进行查询更改数据库操作"};
    for (int i : {8, 1, 2, 3, 4, 5, 6, 7, 0, 9}) {
        QVERIFY(dvtest::clickPage(w, i));
        QCOMPARE(w.pc->currentIndex(), i);
        QCOMPARE(w.statusPanel1->text(), hints[i]);
        QCOMPARE(TFMAIN::pageHint(i), hints[i]);
    }
    QCOMPARE(TFMAIN::pageHint(10), QString());
    QVERIFY(m_boxes->messages.isEmpty());
}

void TestWindow::operatorInputRefused_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("how"); // "type" (typeInto), "page" (typeOnPage), "click" (clickOnPage)
    QTest::addColumn<QString>("control");
    QTest::newRow("server field disabled once logged in") << true << "type" << "tb_server";
    QTest::newRow("field on a page not shown") << true << "type" << "tb_db";
    QTest::newRow("page gated before login") << false << "page" << "tb_db";
    QTest::newRow("button on a gated page") << false << "click" << "Button15";
}

// The operator-input helpers refuse a control the operator could not use, so
// that a test typing there fails instead of passing on text no one can enter.
void TestWindow::operatorInputRefused()
{
    QFETCH(bool, loggedIn);
    QFETCH(QString, how);
    QFETCH(QString, control);
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(dvtest::showWindow(w));
    if (loggedIn)
        QVERIFY(win.login());
    QWidget *c = w.findChild<QWidget *>(control);
    QVERIFY(c);
    const QString before = dvtest::textOf(c);
    const int batches = int(win.fake->calls.size());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(".*")));
    bool done = false;
    if (how == QLatin1String("type"))
        done = dvtest::typeInto(c, QStringLiteral("x"));
    else if (how == QLatin1String("page"))
        done = dvtest::typeOnPage(w, c, QStringLiteral("x"));
    else
        done = dvtest::clickOnPage(w, c);
    QVERIFY(!done);
    QCOMPARE(dvtest::textOf(c), before);
    QCOMPARE(int(win.fake->calls.size()), batches);
}

void TestWindow::navigatorStaysVisible()
{
    Window win;
    TFMAIN &w = *win.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    win.login();
    QVERIFY(dvtest::clickPage(w, 3));
    QVERIFY(w.DBNaV->isHidden());
    QVERIFY(dvtest::clickPage(w, 9));
    QVERIFY(w.DBNaV->isVisible());
    QVERIFY(dvtest::clickPage(w, 2));
    QVERIFY(w.DBNaV->isVisible());
    QVERIFY(dvtest::clickPage(w, 0));
    QVERIFY(w.DBNaV->isVisible());
    // After logout the gate hides it again.
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    QVERIFY(dvtest::clickPage(w, 9));
    QCOMPARE(m_boxes->messages.size(), 1);
    QVERIFY(w.DBNaV->isHidden());
    QCOMPARE(w.pc->currentIndex(), 0);
}

void TestWindow::accelerators()
{
    Window win;
    TFMAIN &w = *win.w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // Not logged in: Alt+B shows the gate message and returns to page 0.
    QTest::keyClick(&w, Qt::Key_B, Qt::AltModifier);
    QCOMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(w.pc->currentIndex(), 0);

    win.login();
    for (int round = 0; round < 3; ++round) {
        QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
        QCOMPARE(w.pc->currentIndex(), 1);
        QVERIFY(dvtest::clickPage(w, 0));
    }
    QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
    QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
    QCOMPARE(w.pc->currentIndex(), 1);
    QTest::keyClick(&w, Qt::Key_O, Qt::AltModifier);
    QCOMPARE(w.pc->currentIndex(), 8);
    QCOMPARE(w.statusPanel1->text(), TFMAIN::pageHint(8));
    QTest::keyClick(&w, Qt::Key_Z, Qt::AltModifier);
    QCOMPARE(w.pc->currentIndex(), 7);
    QTest::keyClick(&w, Qt::Key_L, Qt::AltModifier);
    QCOMPARE(w.pc->currentIndex(), 0);
    QCOMPARE(m_boxes->messages.size(), 1);
}

void TestWindow::firstShow()
{
    Window win;
    TFMAIN &w = *win.w;
    w.DBNaV->show();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.DBNaV->isHidden());
    QCOMPARE(QApplication::focusWidget(), w.tb_server);
}

void TestWindow::closingClosesConnection()
{
    Window win;
    TFMAIN &w = *win.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    win.login();
    QVERIFY(win.fake->isConnected());
    QVERIFY(dvtest::clickOnPage(w, w.Button2));
    QVERIFY(!w.isVisible());
    QVERIFY(!win.fake->isConnected());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestWindow::appendLogEntries()
{
    Window win;
    TFMAIN &w = *win.w;
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    const QString sep = QString::fromLatin1(dv::kLogSeparator);
    // `expected`: what the entry adds to the memo's text (as saved, CR LF),
    // "%1" standing for the time stamp.
    auto check = [&](const QString &entry, const QString &expected) {
        const QString before = win.memoText();
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-1);
        w.AppendLog(entry);
        const QDateTime t1 = QDateTime::currentDateTime().addSecs(1);
        const QString after = win.memoText();
        QVERIFY2(after.startsWith(before), "an entry changed earlier text");
        const QString added = after.mid(before.size());
        const qsizetype at = expected.indexOf(QLatin1String("%1"));
        const QString ts = added.mid(at, 19);
        QVERIFY2(stamp.match(ts).hasMatch(), qPrintable(added));
        const QDateTime when = QDateTime::fromString(ts, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(when >= t0.addMSecs(-t0.time().msec()) && when <= t1);
        QCOMPARE(added, expected.arg(ts));
    };
    check(QStringLiteral("成功登录数据库服务器:[srv]"), "%1\r\n成功登录数据库服务器:[srv]\r\n" + sep + "\r\n");
    check(QStringLiteral("备份数据库\r\nuse master\r\nbackup database x to y\r\n操作成功"),
          "%1\r\n备份数据库\r\nuse master\r\nbackup database x to y\r\n操作成功\r\n" + sep + "\r\n");
    // The operator typed at the end without Enter.
    QTextCursor c(w.tb_memo->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral("typed note"));
    check(QStringLiteral("执行sql：select 1"), "\r\n%1\r\n执行sql：select 1\r\n" + sep);
    check(QStringLiteral("second"), "\r\n%1\r\nsecond\r\n" + sep);
    QVERIFY(win.memoText().contains(QStringLiteral("typed note\r\n")));
}

void TestWindow::appendLogLargeMemo()
{
    Window win;
    TFMAIN &w = *win.w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int i = 0; i < 100000; ++i)
        w.AppendLog(QStringLiteral("执行sql：select %1").arg(i));
    for (int i = 0; i < 1000; ++i)
        w.AppendLog(QStringLiteral("late %1").arg(i));
    QCOMPARE(w.tb_memo->document()->blockCount(), 3 * 101000 + 1);
}

void TestWindow::f10SavesGbk_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("plain") << int(Qt::NoModifier);
    QTest::newRow("shift+ctrl") << int(Qt::ShiftModifier | Qt::ControlModifier);
}

void TestWindow::f10SavesGbk()
{
    QFETCH(int, modifiers);
    Window win;
    TFMAIN &w = *win.w;
    win.login(QStringLiteral("服务器"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("日志")); // no extension is added
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'z'));
    old.close();
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        ++m_dialogs;
        d.fileName = path;
        return true;
    };
    w.tb_memo->setFocus();
    QTest::keyClick(w.tb_memo, Qt::Key_F10, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_dialogs, 1);
    QVERIFY(m_boxes->errors.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const QString text = win.memoText();
    QCOMPARE(bytes, dv::encodeLogText(text));
    // "成功登录数据库服务器:[服务器]" + CR LF in GBK (bytes from iconv -t CP936).
    QVERIFY2(bytes.contains(QByteArray::fromHex("b3c9b9a6b5c7c2bccafdbeddbfe2b7fecef1c6f73a5bb7fecef1c6f75d0d0a")),
             bytes.toHex().constData());
    QVERIFY(bytes.endsWith(QByteArray(38, '-') + "\r\n"));
    QVERIFY(!bytes.contains("\n\n"));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    // The memo is unchanged and grows on.
    QCOMPARE(win.memoText(), text);
}

void TestWindow::f10ElsewhereDoesNothing()
{
    Window win;
    TFMAIN &w = *win.w;
    win.login();
    dv::FileDialog::responder = [&](dv::FileDialog &) {
        ++m_dialogs;
        return false;
    };
    QTest::keyClick(w.tb_server, Qt::Key_F10);
    QTest::keyClick(w.pc, Qt::Key_F10);
    QCOMPARE(m_dialogs, 0);
    // Other keys on the memo do not open the dialog; they type.
    QTest::keyClicks(w.tb_memo, QStringLiteral("ab"));
    QCOMPARE(m_dialogs, 0);
    QVERIFY(w.tb_memo->toPlainText().contains(QStringLiteral("ab")));
    // Cancelling writes nothing.
    QTest::keyClick(w.tb_memo, Qt::Key_F10);
    QCOMPARE(m_dialogs, 1);
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestWindow::f10SaveFailureShowsError()
{
    Window win;
    TFMAIN &w = *win.w;
    win.login();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/folder/log.txt"));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = path;
        return true;
    };
    const QString before = w.tb_memo->toPlainText();
    QTest::keyClick(w.tb_memo, Qt::Key_F10);
    QCOMPARE(m_boxes->errors.size(), 1);
    QVERIFY2(m_boxes->errors[0].startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)),
             qPrintable(m_boxes->errors[0]));
    QVERIFY(m_boxes->errors[0].endsWith(QLatin1Char('.')));
    QCOMPARE(w.tb_memo->toPlainText(), before);
}

void TestWindow::boxes()
{
    std::unique_ptr<QMessageBox> box(dv::makeMessageBox(kGateMessage));
    QCOMPARE(box->windowTitle(), QStringLiteral("Dorvane1.0.2"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->buttons()[0]->text(), QStringLiteral("OK"));
    QVERIFY(!box->text().contains(QLatin1Char('\r')));
    QVERIFY(box->text().startsWith(QStringLiteral("错误编号:1000\n\n")));

    std::unique_ptr<QMessageBox> err(dv::makeErrorBox(QStringLiteral("Stream write error")));
    QCOMPARE(err->icon(), QMessageBox::Critical);
    QCOMPARE(err->windowTitle(), QStringLiteral("Dorvane1.0.2"));
    QCOMPARE(err->text(), QStringLiteral("Stream write error."));

    // Through the hooks: the message as given, the error as displayed.
    dv::showMessageBox(QStringLiteral("a"));
    dv::showErrorDisplay(QStringLiteral("b"));
    QCOMPARE(m_boxes->messages, QStringList{QStringLiteral("a")});
    QCOMPARE(m_boxes->errors, QStringList{QStringLiteral("b.")});
    {
        dvtest::BoxCapture answering(false);
        QVERIFY(!dv::confirmBox(QStringLiteral("Delete record?")));
        QCOMPARE(answering.confirms, QStringList{QStringLiteral("Delete record?")});
    }

    // The real box, without the capture: modal, shown, answered with its OK button.
    m_boxes.reset();
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto *mb = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(mb);
        seen = mb->text() == QStringLiteral("x\ny") && mb->windowTitle() == QStringLiteral("Dorvane1.0.2");
        mb->buttons().first()->click();
    });
    dv::showMessageBox(QStringLiteral("x\r\ny"));
    QVERIFY(seen);
}

namespace {
// Answers the next file dialog from inside its event loop.
void answerDialog(std::function<void(QFileDialog *)> act)
{
    QTimer::singleShot(0, [act] {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dlg) {
            answerDialog(act);
            return;
        }
        act(dlg);
    });
}
} // namespace

void TestWindow::fileDialogRemembers()
{
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("old.sql"));
    QFile f(existing);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    dv::FileDialog d(dv::FileDialog::Save, QStringLiteral("日志保存窗口"),
                     QStringLiteral("所有文件|*.TXT;*.SQL|TXT文件|*.TXT|SQL文件|*.SQL"));
    const QStringList filters = d.qtFilters();
    QString firstFilter, firstTitle;
    QStringList firstSelection;
    bool dontConfirm = false, nonNative = false;
    answerDialog([&](QFileDialog *dlg) {
        firstFilter = dlg->selectedNameFilter();
        firstTitle = dlg->windowTitle();
        firstSelection = dlg->selectedFiles();
        dontConfirm = dlg->testOption(QFileDialog::DontConfirmOverwrite);
        nonNative = dlg->testOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(dlg->defaultSuffix(), QString());
        dlg->setDirectory(dir.path());
        dlg->selectNameFilter(filters[2]);
        dlg->selectFile(QStringLiteral("old.sql"));
        static_cast<QDialog *>(dlg)->accept(); // an existing file: accepted without a question
    });
    QVERIFY(d.execute(nullptr));
    QCOMPARE(firstTitle, QStringLiteral("日志保存窗口"));
    QVERIFY2(filters[0].startsWith(firstFilter), qPrintable(firstFilter));
    QVERIFY(!filters[1].startsWith(firstFilter));
    QVERIFY(dontConfirm);
    QVERIFY(nonNative);
    QCOMPARE(QFileInfo(d.fileName).canonicalFilePath(), QFileInfo(existing).canonicalFilePath());
    QCOMPARE(d.filterIndex, 2);

    // The second time it opens with the confirmed name and filter; cancelling
    // keeps them.
    QString secondFilter;
    QStringList secondSelection;
    answerDialog([&](QFileDialog *dlg) {
        secondFilter = dlg->selectedNameFilter();
        secondSelection = dlg->selectedFiles();
        dlg->reject();
    });
    QVERIFY(!d.execute(nullptr));
    QCOMPARE(secondFilter, QStringLiteral("SQL文件"));
    QCOMPARE(secondSelection.size(), 1);
    QCOMPARE(QFileInfo(secondSelection[0]).fileName(), QStringLiteral("old.sql"));
    QCOMPARE(d.filterIndex, 2);
}

void TestWindow::openDialogAcceptsMissingFile()
{
    QTemporaryDir dir;
    dv::FileDialog d(dv::FileDialog::Open, QStringLiteral("打开"), QStringLiteral("备份文件|*.BAK|所有文件|*.*"));
    answerDialog([&](QFileDialog *dlg) {
        QCOMPARE(dlg->acceptMode(), QFileDialog::AcceptOpen);
        dlg->setDirectory(dir.path());
        dlg->selectFile(QStringLiteral("not-there.bak"));
        static_cast<QDialog *>(dlg)->accept();
    });
    QVERIFY(d.execute(nullptr));
    QCOMPARE(QFileInfo(d.fileName).fileName(), QStringLiteral("not-there.bak"));
    QCOMPARE(d.filterIndex, 0);
}

void TestWindow::pathEditButton()
{
    dv::PathEdit edit;
    QSignalSpy spy(&edit, &dv::PathEdit::buttonClicked);
    auto *browse = edit.findChild<QAction *>(QStringLiteral("browse"));
    QVERIFY(browse);
    QVERIFY(edit.actions().contains(browse));
    browse->trigger();
    QCOMPARE(spy.count(), 1);
    edit.clickButton();
    QCOMPARE(spy.count(), 2);
}

void TestWindow::exceptionsReachErrorDisplay()
{
    QVERIFY(qobject_cast<dv::Application *>(qApp));
    QPushButton button(QStringLiteral("throw"));
    int which = 0;
    connect(&button, &QPushButton::clicked, [&] {
        if (which == 0)
            throw dv::DbError(QStringLiteral("Invalid object name 'x'"));
        if (which == 1)
            throw std::runtime_error("plain failure");
        throw 42;
    });
    // The click comes from the event loop (not a synthetic mouse event: Qt's
    // mouse delivery is not exception-safe and leaks its event copies when a
    // handler throws through it, which only this test does on purpose).
    for (int i = 0; i < 3; ++i) {
        which = i;
        QTimer::singleShot(0, &button, &QAbstractButton::click);
        QTRY_COMPARE(m_boxes->errors.size(), i + 1);
    }
    QCOMPARE(m_boxes->errors[0], QStringLiteral("Invalid object name 'x'"));  // ends below '.'
    QCOMPARE(m_boxes->errors[1], QStringLiteral("plain failure."));
    QVERIFY(!m_boxes->errors[2].isEmpty());

    // From a timer in the event loop, and the loop goes on afterwards.
    bool after = false;
    QTimer::singleShot(0, [] { throw dv::DbError(QStringLiteral("timer")); });
    QTimer::singleShot(10, [&] { after = true; });
    QTRY_VERIFY(after);
    QCOMPARE(m_boxes->errors.value(3), QStringLiteral("timer."));
}

void TestWindow::missingTheme()
{
    auto *app = qobject_cast<QApplication *>(qApp);
    const QString sheetBefore = app->styleSheet();
    QVERIFY(!dv::applyTheme(*app, QStringLiteral(":/themes/no-such-theme.qss")));
    QCOMPARE(m_boxes->errors, QStringList{QStringLiteral("Style 'Aqua Light Slate' not found")});
    QCOMPARE(app->styleSheet(), sheetBefore);

    QVERIFY(dv::applyTheme(*app));
    QCOMPARE(m_boxes->errors.size(), 1);
    QVERIFY(app->styleSheet().contains(QStringLiteral("Panel1")));
    {
        // Under the theme the window's font and the labels' own fonts and
        // colours still reach the controls.
        Window win;
        TFMAIN &w = *win.w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.tb_server->font().pixelSize(), 19);
        QCOMPARE(w.Button1->font().pixelSize(), 19);
        QCOMPARE(w.lbl_info->font().pixelSize(), 14);
        QCOMPARE(w.lbl_ini->font().pixelSize(), 14);
        QCOMPARE(w.lbl_ini->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(w.lbl_info->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
    }
    app->setStyleSheet(QString());
    QCOMPARE(app->style()->metaObject()->className(), "QFusionStyle");
}

void TestWindow::chineseFontInstalled()
{
    const QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    QVERIFY2(!families.isEmpty(), "no font with the Simplified Chinese writing system");
    // The window's font falls back to a family that holds the captions.
    QFont f;
    f.setFamilies({QStringLiteral("Segoe UI Light"), QStringLiteral("WenQuanYi Micro Hei")});
    QFontMetrics fm(f);
    QVERIFY(fm.inFont(QChar(0x767b))); // 登
}

void TestWindow::qtTranslations()
{
    // Qt's standard buttons read Chinese once the catalogue is loaded.
    QVERIFY(dv::loadQtTranslations(*qobject_cast<QApplication *>(qApp)));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    // The outcome box keeps its literal "OK".
    std::unique_ptr<QMessageBox> box(dv::makeMessageBox(QStringLiteral("x")));
    QCOMPARE(box->buttons().value(0)->text(), QStringLiteral("OK"));
    // So do the grid's "Delete record?" box's "OK" and "Cancel".
    std::unique_ptr<QMessageBox> confirm(dv::makeConfirmBox(QStringLiteral("Delete record?")));
    QStringList captions;
    for (QAbstractButton *b : confirm->buttons())
        captions << b->text();
    captions.sort();
    QCOMPARE(captions, (QStringList{QStringLiteral("Cancel"), QStringLiteral("OK")}));
    QCOMPARE(confirm->defaultButton()->text(), QStringLiteral("OK"));
    QCOMPARE(confirm->escapeButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(confirm->windowTitle(), QStringLiteral("Dorvane1.0.2"));
    // The real box answers with the button the operator clicks.
    for (const QString &answer : {QStringLiteral("Cancel"), QStringLiteral("OK")}) {
        QTimer::singleShot(0, this, [answer] {
            auto *mb = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(mb);
            for (QAbstractButton *b : mb->buttons())
                if (b->text() == answer)
                    b->click();
        });
        QCOMPARE(dv::confirmBox(QStringLiteral("Delete record?")), answer == QLatin1String("OK"));
    }
}

void TestWindow::memoFollowsEntries()
{
    Window win;
    TFMAIN &w = *win.w;
    QVERIFY(win.login());
    QPlainTextEdit *memo = w.tb_memo;
    QScrollBar *bar = memo->verticalScrollBar();
    auto lastLineShown = [&] {
        QApplication::processEvents();
        QTextCursor end(memo->document());
        end.movePosition(QTextCursor::End);
        return bar->maximum() > 0 && bar->value() == bar->maximum()
               && memo->viewport()->rect().contains(memo->cursorRect(end).center());
    };
    // Entries made while another page is shown: the log page opens at its end.
    for (int i = 0; i < 80; ++i)
        w.AppendLog(QStringLiteral("执行sql：select %1").arg(i));
    QVERIFY(dvtest::clickPage(w, 8));
    QVERIFY(lastLineShown());
    // The operator reads at the top; the next entry brings the view back.
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    QCOMPARE(bar->value(), 0);
    w.AppendLog(QStringLiteral("备份数据库\r\nuse master\r\n操作成功"));
    QVERIFY(lastLineShown());
    QCOMPARE(memo->textCursor().position(), memo->document()->characterCount() - 1);

    // What the program wrote is not undoable, and entries add no undo steps.
    QCOMPARE(memo->document()->availableUndoSteps(), 0);
    QTest::keyClicks(memo, QStringLiteral("note"));
    w.AppendLog(QStringLiteral("after the note"));
    const QString logged = memo->toPlainText();
    QVERIFY(logged.contains(QStringLiteral("note\n")));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(memo->toPlainText(), logged);
    QVERIFY(lastLineShown());
    QCOMPARE(memo->document()->availableUndoSteps(), 0);
    // The operator's own typing after the last entry stays undoable.
    QTest::keyClicks(memo, QStringLiteral("typo"));
    QCOMPARE(memo->toPlainText(), logged + QStringLiteral("typo"));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(memo->toPlainText(), logged);
    QVERIFY(lastLineShown());
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestWindow t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_window.moc"
