// Maintenance pages over the in-process fake connection: the batches sent,
// outcome messages, log entries, picker refreshes, Enter chains, file dialogs
// and tab order.
#include "client/query.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "core/operations.h"
#include "support/boxcapture.h"
#include "support/fakeconnection.h"
#include "support/operatorinput.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include <optional>

namespace {

const QString kCatalogue = QStringLiteral("select name from master..sysdatabases order by name");
const QString kSeparator = QStringLiteral("--------------------------------------");

QString batchText(const QStringList &lines)
{
    QString text = QStringLiteral("use master\r\n");
    for (const QString &l : lines)
        text += l + QStringLiteral("\r\n");
    return text;
}

struct DialogCall {
    QString title;
    QString filter;
    dv::FileDialog::Mode mode;
    QString fileNameSeen;
    int filterIndexSeen;
};

} // namespace

class TestMaintenanceGui : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void success_data();
    void success();
    void failure_data();
    void failure();
    void refreshFailureReportsTwice();
    void silentStops_data();
    void silentStops();
    void enterChains_data();
    void enterChains();
    void otherKeysPassThrough();
    void modifiedEnter_data();
    void modifiedEnter();
    void saveDialog1ProposesNameEveryTime();
    void openDialogSharedByRestoreAndAttach();
    void createPageDialogs();
    void tabOrder_data();
    void tabOrder();
    void exitButtonsCloseWindow_data();
    void exitButtonsCloseWindow();

private:
    // Fills the page of `action` with `values` (in the page's field order).
    void fill(const QString &action, const QStringList &values);
    QPushButton *actionButton(const QString &action) const;
    QWidget *widget(const QString &name) const;
    QStringList logLines() const;
    QStringList executedBatches() const;
    int catalogueOpens() const;
    void showPage(int index);
    // The log entry starting at `from`; checks its frame and returns its body
    // (the lines between the time stamp and the separator).
    QStringList entryBody(const QStringList &log, int from);

    dvtest::FakeConnection *fake = nullptr;
    std::unique_ptr<TFMAIN> win;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
    QList<DialogCall> dialogCalls;
    std::function<bool(dv::FileDialog &)> answerDialog;
};

void TestMaintenanceGui::init()
{
    dialogCalls.clear();
    answerDialog = nullptr;
    m_boxes.emplace(false);
    dv::FileDialog::responder = [this](dv::FileDialog &d) {
        dialogCalls << DialogCall{d.title(), d.filter(), d.mode(), d.fileName, d.filterIndex};
        return answerDialog ? answerDialog(d) : false;
    };
    auto conn = std::make_unique<dvtest::FakeConnection>();
    fake = conn.get();
    win = std::make_unique<TFMAIN>(std::move(conn));
    fake->open(dv::ConnectParams{});
    win->RefreshDatabaseList();
    fake->calls.clear();
}

void TestMaintenanceGui::cleanup()
{
    win.reset();
    dv::FileDialog::responder = nullptr;
    m_boxes.reset();
}

void TestMaintenanceGui::fill(const QString &action, const QStringList &values)
{
    QList<QWidget *> fields;
    if (action == QLatin1String("create"))
        fields = {win->tb_db, win->tb_m_file, win->tb_m_size, win->tb_m_group, win->tb_m_max,
                  win->tb_l_file, win->tb_l_size, win->tb_l_group, win->tb_l_max};
    else if (action == QLatin1String("backup"))
        fields = {win->cb_db, win->tb_bak_path};
    else if (action == QLatin1String("restore"))
        fields = {win->cb_db2, win->tb_bak_path2};
    else if (action == QLatin1String("detach"))
        fields = {win->cb_db3};
    else if (action == QLatin1String("attach"))
        fields = {win->cb_db4, win->tb_m_path, win->tb_l_path};
    else if (action == QLatin1String("drop"))
        fields = {win->cb_db5};
    else if (action == QLatin1String("shrink"))
        fields = {win->cb_db6};
    QCOMPARE(values.size(), fields.size());
    for (int i = 0; i < fields.size(); ++i)
        QVERIFY(dvtest::typeOnPage(*win, fields[i], values[i]));
}

QPushButton *TestMaintenanceGui::actionButton(const QString &action) const
{
    const QHash<QString, QPushButton *> buttons{{"create", win->Button15}, {"backup", win->Button3},
                                                {"restore", win->Button5}, {"detach", win->Button7},
                                                {"attach", win->Button9},  {"drop", win->Button11},
                                                {"shrink", win->Button13}};
    return buttons.value(action);
}

QWidget *TestMaintenanceGui::widget(const QString &name) const
{
    const QHash<QString, QWidget *> w{
        {"tb_db", win->tb_db},         {"tb_m_file", win->tb_m_file},   {"tb_m_size", win->tb_m_size},
        {"tb_m_group", win->tb_m_group}, {"tb_m_max", win->tb_m_max},   {"tb_l_file", win->tb_l_file},
        {"tb_l_size", win->tb_l_size}, {"tb_l_group", win->tb_l_group}, {"tb_l_max", win->tb_l_max},
        {"Button15", win->Button15},   {"Button16", win->Button16},     {"cb_db", win->cb_db},
        {"tb_bak_path", win->tb_bak_path}, {"Button3", win->Button3},   {"Button4", win->Button4},
        {"cb_db2", win->cb_db2},       {"tb_bak_path2", win->tb_bak_path2}, {"Button5", win->Button5},
        {"Button6", win->Button6},     {"cb_db3", win->cb_db3},         {"Button7", win->Button7},
        {"Button8", win->Button8},     {"cb_db4", win->cb_db4},         {"tb_m_path", win->tb_m_path},
        {"tb_l_path", win->tb_l_path}, {"Button9", win->Button9},       {"Button10", win->Button10},
        {"cb_db5", win->cb_db5},       {"Button11", win->Button11},     {"Button12", win->Button12},
        {"cb_db6", win->cb_db6},       {"Button13", win->Button13},     {"Button14", win->Button14}};
    return w.value(name);
}

QStringList TestMaintenanceGui::logLines() const
{
    QStringList lines = win->tb_memo->toPlainText().split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList TestMaintenanceGui::executedBatches() const
{
    QStringList out;
    for (const auto &c : fake->calls)
        if (!c.open)
            out << c.statement.text;
    return out;
}

int TestMaintenanceGui::catalogueOpens() const
{
    int n = 0;
    for (const auto &c : fake->calls)
        if (c.open && c.statement.text.contains(QStringLiteral("sysdatabases")))
            ++n;
    return n;
}

void TestMaintenanceGui::showPage(int index)
{
    QVERIFY(dvtest::showWindow(*win));
    QVERIFY(QTest::qWaitForWindowActive(win.get()));
    if (win->pc->currentIndex() != index)
        QVERIFY(dvtest::clickPage(*win, index));
    QCOMPARE(win->pc->currentIndex(), index);
    QCoreApplication::processEvents();
    m_boxes->messages.clear();
}

QStringList TestMaintenanceGui::entryBody(const QStringList &log, int from)
{
    [&] {
        QVERIFY2(from < log.size(), "log entry missing");
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                     .match(log[from])
                     .hasMatch(),
                 qPrintable(log[from]));
    }();
    const int sep = log.indexOf(kSeparator, from);
    if (sep < 0)
        return {};
    return log.mid(from + 1, sep - from - 1);
}

// ---- outcomes ----

void TestMaintenanceGui::success_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("refresh");

    const QStringList createNoMax{"create database sales", "on", "( name = sales_dat,", "filename=N'/d/s.mdf',",
                                  "size=10MB,", "filegrowth=1MB)", "log on", "( name = sales_log,",
                                  "filename=N'/d/s.ldf',", "size=5MB,", "filegrowth=1MB)"};
    QStringList createBoth = createNoMax;
    createBoth.insert(5, "maxsize = 20MB,");
    createBoth.insert(11, "maxsize = 30MB,");
    QStringList createLogMax = createNoMax;
    createLogMax.insert(10, "maxsize = 30MB,");

    QTest::newRow("create, no maximum")
        << "create" << QStringList{"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", ""}
        << createNoMax << "创建数据库" << "操作编号:1105\r\n\r\n创建成功,可进行其它操作" << true;
    QTest::newRow("create, both maximums")
        << "create" << QStringList{"sales", "/d/s.mdf", "10MB", "1MB", "20MB", "/d/s.ldf", "5MB", "1MB", "30MB"}
        << createBoth << "创建数据库" << "操作编号:1105\r\n\r\n创建成功,可进行其它操作" << true;
    QTest::newRow("create, log maximum only")
        << "create" << QStringList{"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", "30MB"}
        << createLogMax << "创建数据库" << "操作编号:1105\r\n\r\n创建成功,可进行其它操作" << true;
    const QString dropDevice =
        QStringLiteral("if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'");
    QTest::newRow("backup") << "backup" << QStringList{"master", "/b/m.BAK"}
                            << QStringList{dropDevice, "EXEC sp_addumpdevice 'disk', 'DUMPX', N'/b/m.BAK'",
                                           "BACKUP DATABASE master TO DUMPX"}
                            << "备份数据库" << "操作编号:1100\r\n\r\n备份成功,可进行其它操作" << false;
    QTest::newRow("backup, empty fields sent anyway")
        << "backup" << QStringList{"", ""}
        << QStringList{dropDevice, "EXEC sp_addumpdevice 'disk', 'DUMPX', N''", "BACKUP DATABASE  TO DUMPX"}
        << "备份数据库" << "操作编号:1100\r\n\r\n备份成功,可进行其它操作" << false;
    QTest::newRow("restore") << "restore" << QStringList{"sales", "/b/s.BAK"}
                             << QStringList{dropDevice, "restore database sales from disk=N'/b/s.BAK' with replace"}
                             << "还原数据库" << "操作编号:1101\r\n\r\n还原成功,可进行其它操作" << true;
    QTest::newRow("detach") << "detach" << QStringList{"sales"} << QStringList{"EXEC sp_detach_db N'sales'"}
                            << "分离数据库" << "操作编号:1102\r\n\r\n分离成功,可进行其它操作" << true;
    QTest::newRow("attach") << "attach" << QStringList{"sales", "/d/s.mdf", "/d/s.ldf"}
                            << QStringList{"EXEC sp_attach_db N'sales',N'/d/s.mdf',N'/d/s.ldf'"} << "附加数据库"
                            << "操作编号:1103\r\n\r\n附加成功,可进行其它操作" << true;
    QTest::newRow("drop") << "drop" << QStringList{"sales"} << QStringList{"drop database sales"} << "删除数据库"
                          << "操作编号:1104\r\n\r\n删除成功,可进行其它操作" << true;
    QTest::newRow("shrink") << "shrink" << QStringList{"sales"}
                            << QStringList{"dump transaction sales with no_log", "backup log sales with no_log",
                                           "dbcc shrinkdatabase (sales)"}
                            << "压缩数据库" << "操作编号:1110\r\n\r\n压缩成功,可进行其它操作" << true;
}

void TestMaintenanceGui::success()
{
    QFETCH(QString, action);
    QFETCH(QStringList, values);
    QFETCH(QStringList, lines);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(bool, refresh);

    // Text typed into the pickers shows whether they were refreshed.
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QVERIFY(dvtest::typeOnPage(*win, cb, QStringLiteral("typed")));
    fill(action, values);
    fake->databases << QStringLiteral("sales");
    QVERIFY(dvtest::clickOnPage(*win, actionButton(action)));

    QCOMPARE(executedBatches(), QStringList{batchText(lines)});
    QCOMPARE(m_boxes->messages, QStringList{message});
    QVERIFY(m_boxes->errors.isEmpty());
    QVERIFY(!win->q->isOpen());

    const QStringList log = logLines();
    const QStringList body = entryBody(log, 0);
    QCOMPARE(body, QStringList{title} + QStringList{"use master"} + lines + QStringList{"操作成功"});
    QCOMPARE(log.size(), body.size() + 2);

    QCOMPARE(catalogueOpens(), refresh ? 1 : 0);
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6}) {
        if (refresh) {
            QCOMPARE(cb->currentText(), QString());
            QStringList items;
            for (int i = 0; i < cb->count(); ++i)
                items << cb->itemText(i);
            QCOMPARE(items, fake->databases);
        } else {
            QVERIFY(cb->findText(QStringLiteral("sales")) < 0);
            if (cb != win->cb_db)
                QCOMPARE(cb->currentText(), QStringLiteral("typed"));
        }
    }
    if (!refresh)
        QCOMPARE(win->cb_db->currentText(), values[0]);
}

void TestMaintenanceGui::failure_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("create") << "create"
                            << QStringList{"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", ""}
                            << "创建数据库" << "错误编号:1001\r\n\r\n创建失败,请检查网络情况";
    QTest::newRow("backup") << "backup" << QStringList{"nosuch", "/b/x.BAK"} << "备份数据库"
                            << "错误编号:1001\r\n\r\n备份失败,请检查网络情况";
    QTest::newRow("restore") << "restore" << QStringList{"sales", "/b/x.BAK"} << "还原数据库"
                             << "错误编号:1001\r\n\r\n还原失败,请检查网络情况";
    QTest::newRow("detach") << "detach" << QStringList{"sales"} << "分离数据库"
                            << "错误编号:1001\r\n\r\n分离失败,请检查网络情况";
    QTest::newRow("attach") << "attach" << QStringList{"sales", "/d/s.mdf", "/d/s.ldf"} << "附加数据库"
                            << "错误编号:1001\r\n\r\n附加失败,请检查网络情况";
    QTest::newRow("drop") << "drop" << QStringList{"sales"} << "删除数据库"
                          << "错误编号:1001\r\n\r\n删除失败,请检查网络情况";
    QTest::newRow("shrink") << "shrink" << QStringList{"sales"} << "压缩数据库"
                            << "错误编号:1001\r\n\r\n压缩失败,请检查网络情况";
}

void TestMaintenanceGui::failure()
{
    QFETCH(QString, action);
    QFETCH(QStringList, values);
    QFETCH(QString, title);
    QFETCH(QString, message);

    fake->handler = [](const dv::Statement &st, bool open) -> dv::RunResult {
        if (!open)
            throw dv::DbError(QStringLiteral("Secret server complaint"), QStringLiteral("42000"), 3701);
        dv::RunResult r;
        r.rows = dvtest::FakeConnection::textResult(QStringLiteral("name"), {QStringLiteral("master")});
        Q_UNUSED(st);
        return r;
    };
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QVERIFY(dvtest::typeOnPage(*win, cb, QStringLiteral("typed")));
    fill(action, values);
    const int itemsBefore = win->cb_db3->count();

    QVERIFY(dvtest::clickOnPage(*win, actionButton(action))); // must not throw

    QCOMPARE(m_boxes->messages, QStringList{message});
    QVERIFY(m_boxes->errors.isEmpty());
    QCOMPARE(executedBatches().size(), 1);
    QCOMPARE(catalogueOpens(), 0);
    QVERIFY(!win->q->isOpen());

    const QStringList log = logLines();
    const QStringList body = entryBody(log, 0);
    QCOMPARE(body.value(0), title);
    QCOMPARE(body.value(1), QStringLiteral("use master"));
    QCOMPARE(body.last(), QStringLiteral("操作失败"));
    // The body shows the batch exactly as it was sent.
    QCOMPARE(QStringList(body.mid(1, body.size() - 2)).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"),
             executedBatches().value(0));
    QVERIFY(!win->tb_memo->toPlainText().contains(QStringLiteral("Secret")));

    // Pickers untouched: the operation's own picker keeps what was put in it,
    // the others keep their typed text.
    QCOMPARE(win->cb_db3->count(), itemsBefore);
    const QHash<QString, QComboBox *> own{{"backup", win->cb_db}, {"detach", win->cb_db3},
                                          {"drop", win->cb_db5}, {"shrink", win->cb_db6}};
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QCOMPARE(cb->currentText(), own.value(action) == cb ? values[0] : QStringLiteral("typed"));
}

void TestMaintenanceGui::refreshFailureReportsTwice()
{
    fake->handler = [](const dv::Statement &, bool open) -> dv::RunResult {
        if (open)
            throw dv::DbError(QStringLiteral("Communication link failure"), QStringLiteral("08S01"));
        return {};
    };
    fill(QStringLiteral("drop"), {QStringLiteral("old")});
    QVERIFY(dvtest::clickOnPage(*win, win->Button11));

    QCOMPARE(m_boxes->messages, (QStringList{"操作编号:1104\r\n\r\n删除成功,可进行其它操作",
                                    "错误编号:1001\r\n\r\n删除失败,请检查网络情况"}));
    const QStringList log = logLines();
    const QStringList first = entryBody(log, 0);
    QCOMPARE(first, (QStringList{"删除数据库", "use master", "drop database old", "操作成功"}));
    const QStringList second = entryBody(log, first.size() + 2);
    QCOMPARE(second, (QStringList{"删除数据库", kCatalogue, "操作失败"}));
    QCOMPARE(log.size(), first.size() + second.size() + 4);
    QVERIFY(!win->q->isOpen());
}

void TestMaintenanceGui::silentStops_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("runs");
    const QStringList full{"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", ""};
    const int required[] = {0, 1, 2, 3, 5, 6, 7};
    for (int i : required) {
        QStringList v = full;
        v[i].clear();
        QTest::newRow(qPrintable(QStringLiteral("create without field %1").arg(i))) << "create" << v << false;
    }
    QTest::newRow("create, blanks are filled")
        << "create" << QStringList{" ", " ", " ", " ", "", " ", " ", " ", ""} << true;
    QTest::newRow("detach empty") << "detach" << QStringList{""} << false;
    QTest::newRow("detach blank") << "detach" << QStringList{" "} << true;
    QTest::newRow("attach no name") << "attach" << QStringList{"", "/a", "/b"} << false;
    QTest::newRow("attach no data file") << "attach" << QStringList{"x", "", "/b"} << false;
    QTest::newRow("attach no log file") << "attach" << QStringList{"x", "/a", ""} << false;
    QTest::newRow("drop empty") << "drop" << QStringList{""} << false;
    QTest::newRow("shrink empty") << "shrink" << QStringList{""} << false;
    QTest::newRow("restore empty runs anyway") << "restore" << QStringList{"", ""} << true;
}

void TestMaintenanceGui::silentStops()
{
    QFETCH(QString, action);
    QFETCH(QStringList, values);
    QFETCH(bool, runs);
    fill(action, values);
    QVERIFY(dvtest::clickOnPage(*win, actionButton(action)));
    QCOMPARE(executedBatches().size(), runs ? 1 : 0);
    QCOMPARE(m_boxes->messages.size(), runs ? 1 : 0);
    QCOMPARE(logLines().isEmpty(), !runs);
}

// ---- keyboard ----

void TestMaintenanceGui::enterChains_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text"); // the field's text when Enter is pressed
    QTest::addColumn<int>("key");
    // "focus:<widget>", "run", "dialog:<title>" or "none"
    QTest::addColumn<QString>("outcome");

    const int ret = Qt::Key_Return, ent = Qt::Key_Enter;
    struct Step {
        int page;
        const char *field;
        const char *next; // widget focused when filled
    };
    const Step focusSteps[] = {{1, "tb_db", "tb_m_file"},       {1, "tb_m_file", "tb_m_size"},
                               {1, "tb_m_size", "tb_m_group"},  {1, "tb_m_group", "tb_m_max"},
                               {1, "tb_l_file", "tb_l_size"},   {1, "tb_l_size", "tb_l_group"},
                               {1, "tb_l_group", "tb_l_max"},   {2, "cb_db", "tb_bak_path"},
                               {3, "cb_db2", "tb_bak_path2"},   {5, "cb_db4", "tb_m_path"},
                               {5, "tb_m_path", "tb_l_path"}};
    for (const Step &s : focusSteps) {
        QTest::addRow("%s filled", s.field) << s.page << s.field << "x" << ret << QStringLiteral("focus:") + s.next;
        QTest::addRow("%s empty", s.field) << s.page << s.field << "" << ret
                                           << (QString::fromLatin1(s.field) == QLatin1String("tb_m_path")
                                                   ? QStringLiteral("dialog:数据库备份窗口")
                                                   : QStringLiteral("none"));
    }
    QTest::newRow("tb_db keypad enter") << 1 << "tb_db" << "x" << ent << "focus:tb_m_file";
    QTest::newRow("tb_m_max empty") << 1 << "tb_m_max" << "" << ret << "focus:tb_l_file";
    QTest::newRow("tb_m_max filled") << 1 << "tb_m_max" << "9MB" << ret << "focus:tb_l_file";
    QTest::newRow("tb_l_max empty") << 1 << "tb_l_max" << "" << ret << "run";
    QTest::newRow("tb_l_max filled") << 1 << "tb_l_max" << "9MB" << ret << "run";
    QTest::newRow("tb_bak_path filled") << 2 << "tb_bak_path" << "/b/x.BAK" << ret << "run";
    QTest::newRow("tb_bak_path empty") << 2 << "tb_bak_path" << "" << ret << "dialog:数据库备份窗口";
    QTest::newRow("tb_bak_path2 filled") << 3 << "tb_bak_path2" << "/b/x.BAK" << ret << "run";
    QTest::newRow("tb_bak_path2 empty") << 3 << "tb_bak_path2" << "" << ret << "dialog:数据库备份窗口";
    QTest::newRow("cb_db3 filled") << 4 << "cb_db3" << "sales" << ret << "run";
    QTest::newRow("cb_db3 keypad") << 4 << "cb_db3" << "sales" << ent << "run";
    QTest::newRow("cb_db3 empty") << 4 << "cb_db3" << "" << ret << "none";
    QTest::newRow("tb_l_path filled") << 5 << "tb_l_path" << "/d/s.ldf" << ret << "run";
    QTest::newRow("tb_l_path empty") << 5 << "tb_l_path" << "" << ret << "dialog:数据库备份窗口";
    QTest::newRow("cb_db5 filled drops at once") << 6 << "cb_db5" << "sales" << ret << "run";
    QTest::newRow("cb_db5 empty") << 6 << "cb_db5" << "" << ret << "none";
    QTest::newRow("cb_db6 filled") << 7 << "cb_db6" << "sales" << ret << "run";
    QTest::newRow("cb_db6 empty") << 7 << "cb_db6" << "" << ret << "none";
}

void TestMaintenanceGui::enterChains()
{
    QFETCH(int, page);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, key);
    QFETCH(QString, outcome);

    // Every page filled so that its action would run.
    fill(QStringLiteral("create"), {"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", ""});
    fill(QStringLiteral("backup"), {"master", "/b/m.BAK"});
    fill(QStringLiteral("restore"), {"sales", "/b/m.BAK"});
    fill(QStringLiteral("detach"), {"sales"});
    fill(QStringLiteral("attach"), {"sales", "/d/s.mdf", "/d/s.ldf"});
    fill(QStringLiteral("drop"), {"sales"});
    fill(QStringLiteral("shrink"), {"sales"});
    showPage(page);

    QWidget *w = widget(field);
    QVERIFY(w);
    QVERIFY(dvtest::typeOnPage(*win, w, text));
    QCoreApplication::processEvents();
    QWidget *focused = QApplication::focusWidget();
    QVERIFY(focused == w || w->isAncestorOf(focused));

    const QString chosen = QStringLiteral("/chosen/file.BAK");
    answerDialog = [&](dv::FileDialog &d) {
        d.fileName = chosen;
        return true;
    };
    QTest::keyClick(focused, Qt::Key(key));
    QCoreApplication::processEvents();

    QWidget *now = QApplication::focusWidget();
    if (outcome.startsWith(QLatin1String("focus:"))) {
        QWidget *target = widget(outcome.mid(6));
        QVERIFY2(now == target || (target && target->isAncestorOf(now)),
                 qPrintable(QStringLiteral("focus on %1").arg(now ? now->metaObject()->className() : "nothing")));
        QVERIFY(executedBatches().isEmpty());
        QVERIFY(dialogCalls.isEmpty());
    } else if (outcome == QLatin1String("run")) {
        QCOMPARE(executedBatches().size(), 1);
        QVERIFY(executedBatches().first().startsWith(QStringLiteral("use master\r\n")));
        QVERIFY(dialogCalls.isEmpty());
        QCOMPARE(m_boxes->messages.size(), 1);
    } else if (outcome.startsWith(QLatin1String("dialog:"))) {
        QCOMPARE(dialogCalls.size(), 1);
        QCOMPARE(dialogCalls.first().title, outcome.mid(7));
        QCOMPARE(qobject_cast<QLineEdit *>(w)->text(), chosen);
        QVERIFY(executedBatches().isEmpty());
    } else {
        QVERIFY(executedBatches().isEmpty());
        QVERIFY(dialogCalls.isEmpty());
        QVERIFY(now == focused);
    }
}

void TestMaintenanceGui::modifiedEnter_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("acts"); // runs the action or opens the dialog
    QTest::newRow("shift cb_db5") << 6 << "cb_db5" << int(Qt::ShiftModifier) << true;
    QTest::newRow("ctrl cb_db5") << 6 << "cb_db5" << int(Qt::ControlModifier) << false;
    QTest::newRow("alt cb_db5") << 6 << "cb_db5" << int(Qt::AltModifier) << false;
    QTest::newRow("ctrl tb_l_max") << 1 << "tb_l_max" << int(Qt::ControlModifier) << false;
    QTest::newRow("ctrl empty tb_bak_path") << 2 << "tb_bak_path" << int(Qt::ControlModifier) << false;
    QTest::newRow("shift empty tb_bak_path") << 2 << "tb_bak_path" << int(Qt::ShiftModifier) << true;
}

// Only a key press that types a carriage return moves along a chain.
void TestMaintenanceGui::modifiedEnter()
{
    QFETCH(int, page);
    QFETCH(QString, field);
    QFETCH(int, modifiers);
    QFETCH(bool, acts);
    fill(QStringLiteral("create"), {"sales", "/d/s.mdf", "10MB", "1MB", "", "/d/s.ldf", "5MB", "1MB", ""});
    fill(QStringLiteral("drop"), {"sales"});
    fill(QStringLiteral("backup"), {"master", ""});
    showPage(page);
    QWidget *w = widget(field);
    QVERIFY(w);
    w->setFocus();
    QCoreApplication::processEvents();
    answerDialog = [](dv::FileDialog &) { return false; };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
    QCoreApplication::processEvents();
    QCOMPARE(executedBatches().size() + dialogCalls.size(), acts ? 1 : 0);
}

void TestMaintenanceGui::otherKeysPassThrough()
{
    showPage(6);
    QVERIFY(dvtest::typeOnPage(*win, win->cb_db5, QStringLiteral("sale")));
    QCoreApplication::processEvents();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S);
    QCOMPARE(win->cb_db5->currentText(), QStringLiteral("sales"));
    QVERIFY(executedBatches().isEmpty());

    showPage(2);
    QVERIFY(dvtest::typeOnPage(*win, win->tb_bak_path, QStringLiteral("/a")));
    QCOMPARE(win->tb_bak_path->text(), QStringLiteral("/a"));
    QVERIFY(dialogCalls.isEmpty());
    QVERIFY(executedBatches().isEmpty());
}

// ---- file dialogs ----

void TestMaintenanceGui::saveDialog1ProposesNameEveryTime()
{
    QVERIFY(dvtest::typeOnPage(*win, win->cb_db, QStringLiteral("master")));
    const QDateTime before = QDateTime::currentDateTime();
    answerDialog = [](dv::FileDialog &d) {
        d.fileName = QStringLiteral("/backups/first.BAK");
        d.filterIndex = 1;
        return true;
    };
    win->tb_bak_path->clickButton();
    QCOMPARE(win->tb_bak_path->text(), QStringLiteral("/backups/first.BAK"));

    answerDialog = nullptr; // cancel: the field keeps its text
    win->tb_bak_path->clickButton();
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(win->tb_bak_path->text(), QStringLiteral("/backups/first.BAK"));

    QCOMPARE(dialogCalls.size(), 2);
    for (const DialogCall &c : dialogCalls) {
        QCOMPARE(c.title, QStringLiteral("数据库备份窗口"));
        QCOMPARE(c.filter, QStringLiteral("所有文件|*.*|BAK文件|*.BAK|HDB文件|*.HDB"));
        QCOMPARE(c.mode, dv::FileDialog::Save);
        bool inRange = false;
        for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1); t = t.addSecs(1))
            inRange = inRange || c.fileNameSeen == dv::proposedBackupFileName(QStringLiteral("master"), t);
        QVERIFY2(inRange, qPrintable(c.fileNameSeen));
    }
    QCOMPARE(dialogCalls[0].filterIndexSeen, 0);
    QCOMPARE(dialogCalls[1].filterIndexSeen, 1); // the filter choice carries over

    // The proposal follows the picker's current text.
    QVERIFY(dvtest::typeOnPage(*win, win->cb_db, QString()));
    win->tb_bak_path->clickButton();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{12}\\.BAK$")).match(dialogCalls.last().fileNameSeen).hasMatch());
}

void TestMaintenanceGui::openDialogSharedByRestoreAndAttach()
{
    QString next;
    answerDialog = [&](dv::FileDialog &d) {
        if (next.isEmpty())
            return false;
        d.fileName = next;
        return true;
    };
    next = QStringLiteral("/b/one.BAK");
    win->tb_bak_path2->clickButton();
    QCOMPARE(win->tb_bak_path2->text(), next);

    next = QStringLiteral("/d/a.mdf");
    win->tb_m_path->clickButton();
    QCOMPARE(win->tb_m_path->text(), next);

    next.clear(); // cancelled
    win->tb_l_path->clickButton();
    QCOMPARE(win->tb_l_path->text(), QString());

    win->tb_bak_path2->clickButton();
    QCOMPARE(win->tb_bak_path2->text(), QStringLiteral("/b/one.BAK"));

    QCOMPARE(dialogCalls.size(), 4);
    const QStringList seen{dialogCalls[0].fileNameSeen, dialogCalls[1].fileNameSeen, dialogCalls[2].fileNameSeen,
                           dialogCalls[3].fileNameSeen};
    QCOMPARE(seen, (QStringList{"", "/b/one.BAK", "/d/a.mdf", "/d/a.mdf"}));
    for (const DialogCall &c : dialogCalls) {
        QCOMPARE(c.mode, dv::FileDialog::Open);
        QCOMPARE(c.title, QStringLiteral("数据库备份窗口"));
        QCOMPARE(c.filter, QStringLiteral("所有文件|*.*|BAK文件|*.BAK|HDB文件|*.HDB"));
    }
}

void TestMaintenanceGui::createPageDialogs()
{
    answerDialog = [](dv::FileDialog &d) {
        d.fileName = d.title() == QStringLiteral("主文件保存窗口") ? QStringLiteral("/d/n.mdf")
                                                                   : QStringLiteral("/d/n.ldf");
        return true;
    };
    win->tb_m_file->clickButton();
    win->tb_l_file->clickButton();
    QCOMPARE(win->tb_m_file->text(), QStringLiteral("/d/n.mdf"));
    QCOMPARE(win->tb_l_file->text(), QStringLiteral("/d/n.ldf"));
    win->tb_m_file->clickButton();
    QCOMPARE(dialogCalls.size(), 3);
    QCOMPARE(dialogCalls[0].title, QStringLiteral("主文件保存窗口"));
    QCOMPARE(dialogCalls[0].filter, QStringLiteral("所有文件|*.*|MDF文件|*.MDF"));
    QCOMPARE(dialogCalls[0].fileNameSeen, QString());
    QCOMPARE(dialogCalls[1].title, QStringLiteral("日志文件保存窗口"));
    QCOMPARE(dialogCalls[1].filter, QStringLiteral("所有文件|*.*|LDF文件|*.LDF"));
    QCOMPARE(dialogCalls[1].mode, dv::FileDialog::Save);
    QCOMPARE(dialogCalls[2].fileNameSeen, QStringLiteral("/d/n.mdf")); // remembered, not proposed
}

void TestMaintenanceGui::tabOrder_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("create") << 1
                            << QStringList{"tb_db",      "tb_m_file", "tb_m_size",  "tb_m_group", "tb_m_max", "tb_l_file",
                                           "tb_l_size", "tb_l_group", "tb_l_max", "Button15",   "Button16"};
    QTest::newRow("backup") << 2 << QStringList{"cb_db", "tb_bak_path", "Button3", "Button4"};
    QTest::newRow("restore") << 3 << QStringList{"cb_db2", "tb_bak_path2", "Button5", "Button6"};
    QTest::newRow("detach") << 4 << QStringList{"cb_db3", "Button7", "Button8"};
    QTest::newRow("attach") << 5 << QStringList{"cb_db4", "tb_m_path", "Button9", "Button10", "tb_l_path"};
    QTest::newRow("drop") << 6 << QStringList{"cb_db5", "Button11", "Button12"};
    QTest::newRow("shrink") << 7 << QStringList{"cb_db6", "Button13", "Button14"};
}

void TestMaintenanceGui::tabOrder()
{
    QFETCH(int, page);
    QFETCH(QStringList, order);
    showPage(page);
    widget(order.first())->setFocus();
    QCoreApplication::processEvents();
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *expected = widget(order[i]);
        QWidget *now = QApplication::focusWidget();
        QVERIFY2(now == expected || expected->isAncestorOf(now),
                 qPrintable(QStringLiteral("after %1 expected %2").arg(order[i - 1], order[i])));
    }
    // The attach page's log field sits below the data field although it is
    // reached last.
    if (page == 5)
        QVERIFY(win->tb_l_path->mapTo(win->ts5, QPoint()).y() > win->tb_m_path->mapTo(win->ts5, QPoint()).y());
}

void TestMaintenanceGui::exitButtonsCloseWindow_data()
{
    QTest::addColumn<QString>("button");
    for (const char *b : {"Button16", "Button4", "Button6", "Button8", "Button10", "Button12", "Button14"})
        QTest::newRow(b) << b;
}

void TestMaintenanceGui::exitButtonsCloseWindow()
{
    QFETCH(QString, button);
    auto *b = qobject_cast<QPushButton *>(widget(button));
    QVERIFY(b);
    QCOMPARE(b->text(), QStringLiteral("退出[&X]"));
    QVERIFY(dvtest::clickOnPage(*win, b));
    QVERIFY(!win->isVisible());
}

QTEST_MAIN(TestMaintenanceGui)
#include "tst_maintenance_gui.moc"
