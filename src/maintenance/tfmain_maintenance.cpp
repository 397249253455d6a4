// Maintenance pages 1-7 (create, backup, restore, detach, attach, drop,
// shrink) and the runner that every one of their operations ends in.
#include "main/tfmain.h"

#include "client/query.h"
#include "main/uikit.h"
#include "core/operations.h"

#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char *const kAdminNote = "注:请使用具有管理员权限的用户登录,否则会出错";
const char *const kBackupFilter = "所有文件|*.*|BAK文件|*.BAK|HDB文件|*.HDB";

QString u(const char *text) { return QString::fromUtf8(text); }

// Enter as a key that types a carriage return: Shift may be held, but
// Ctrl+Enter types a line feed and Alt+Enter types nothing.
using dv::isEnterKey;

QLabel *makeNote(const char *text, QWidget *parent)
{
    auto *l = new QLabel(u(text), parent);
    l->setWordWrap(true);
    return l;
}

// A row of action buttons, right-aligned.
QHBoxLayout *buttonRow(std::initializer_list<QPushButton *> buttons)
{
    auto *h = new QHBoxLayout;
    h->addStretch(1);
    for (QPushButton *b : buttons)
        h->addWidget(b);
    return h;
}

void chainTabOrder(std::initializer_list<QWidget *> widgets)
{
    QWidget *prev = nullptr;
    for (QWidget *w : widgets) {
        if (prev)
            QWidget::setTabOrder(prev, w);
        prev = w;
    }
}

// The "退出[X]" button every page carries: it closes the window.
QPushButton *exitButton(TFMAIN *w, QWidget *page)
{
    auto *b = new QPushButton(u("退出[&X]"), page);
    QObject::connect(b, &QPushButton::clicked, w, [w] { w->Button2Click(); });
    return b;
}

// The backup, restore, detach, attach, drop and shrink pages share one
// shape: labelled fields in a grid, the buttons, the page's note.
struct FieldRow {
    const char *label;
    QWidget *field;
};

void simplePage(QWidget *page, std::initializer_list<FieldRow> rows, std::initializer_list<QPushButton *> buttons,
                const char *note)
{
    auto *v = new QVBoxLayout(page);
    auto *g = new QGridLayout;
    int r = 0;
    for (const FieldRow &row : rows) {
        g->addWidget(new QLabel(u(row.label), page), r, 0);
        g->addWidget(row.field, r, 1);
        ++r;
    }
    g->setColumnStretch(1, 1);
    v->addLayout(g);
    v->addLayout(buttonRow(buttons));
    if (note)
        v->addWidget(makeNote(note, page));
    v->addStretch(1);
}

// One file's group on the create page: name, size, growth, maximum.
QGridLayout *fileGroup(QWidget *page, const char *fileLabel, dv::PathEdit *&file, QLineEdit *&size,
                       QLineEdit *&growth, QLineEdit *&max)
{
    auto *g = new QGridLayout;
    file = new dv::PathEdit(page);
    size = new QLineEdit(page);
    growth = new QLineEdit(page);
    max = new QLineEdit(page);
    g->addWidget(new QLabel(u(fileLabel), page), 0, 0);
    g->addWidget(file, 0, 1);
    g->addWidget(new QLabel(u("大小[KB|MB|GB]"), page), 1, 0);
    g->addWidget(size, 1, 1);
    g->addWidget(new QLabel(u("增涨[KB|MB|GB]"), page), 2, 0);
    g->addWidget(growth, 2, 1);
    g->addWidget(new QLabel(u("最大[KB|MB|GB]"), page), 3, 0);
    g->addWidget(max, 3, 1);
    return g;
}

} // namespace

void TFMAIN::buildMaintenancePages()
{
    SaveDialog1 = std::make_unique<dv::FileDialog>(dv::FileDialog::Save, u("数据库备份窗口"), u(kBackupFilter));
    OpenDialog1 = std::make_unique<dv::FileDialog>(dv::FileDialog::Open, u("数据库备份窗口"), u(kBackupFilter));
    SaveDialog3 = std::make_unique<dv::FileDialog>(dv::FileDialog::Save, u("主文件保存窗口"),
                                                   u("所有文件|*.*|MDF文件|*.MDF"));
    SaveDialog4 = std::make_unique<dv::FileDialog>(dv::FileDialog::Save, u("日志文件保存窗口"),
                                                   u("所有文件|*.*|LDF文件|*.LDF"));
    buildCreatePage();
    buildBackupPage();
    buildRestorePage();
    buildDetachPage();
    buildAttachPage();
    buildDropPage();
    buildShrinkPage();

    const std::pair<QWidget *, const char *> names[] = {
        {tb_db, "tb_db"},         {tb_m_file, "tb_m_file"},       {tb_m_size, "tb_m_size"},
        {tb_m_group, "tb_m_group"}, {tb_m_max, "tb_m_max"},       {tb_l_file, "tb_l_file"},
        {tb_l_size, "tb_l_size"}, {tb_l_group, "tb_l_group"},     {tb_l_max, "tb_l_max"},
        {Button15, "Button15"},   {Button16, "Button16"},         {tb_bak_path, "tb_bak_path"},
        {Button3, "Button3"},     {Button4, "Button4"},           {cb_db2, "cb_db2"},
        {tb_bak_path2, "tb_bak_path2"}, {Button5, "Button5"},     {Button6, "Button6"},
        {Button7, "Button7"},     {Button8, "Button8"},           {cb_db4, "cb_db4"},
        {tb_m_path, "tb_m_path"}, {tb_l_path, "tb_l_path"},       {Button9, "Button9"},
        {Button10, "Button10"},   {Button11, "Button11"},         {Button12, "Button12"},
        {Button13, "Button13"},   {Button14, "Button14"}};
    for (const auto &[w, name] : names)
        w->setObjectName(QLatin1String(name));
}

void TFMAIN::buildCreatePage()
{
    QWidget *page = ts1;
    auto *v = new QVBoxLayout(page);
    auto *top = new QGridLayout;
    tb_db = new QLineEdit(page);
    top->addWidget(new QLabel(u("数据库名称"), page), 0, 0);
    top->addWidget(tb_db, 0, 1);
    v->addLayout(top);

    auto *files = new QHBoxLayout;
    files->addLayout(fileGroup(page, "主文件名", tb_m_file, tb_m_size, tb_m_group, tb_m_max), 1);
    files->addSpacing(16);
    files->addLayout(fileGroup(page, "日志文件名", tb_l_file, tb_l_size, tb_l_group, tb_l_max), 1);
    v->addLayout(files);

    Button15 = new QPushButton(u("新建[&2]"), page);
    Button16 = exitButton(this, page);
    v->addLayout(buttonRow({Button15, Button16}));
    v->addWidget(makeNote(kAdminNote, page));
    v->addStretch(1);
    chainTabOrder({tb_db, tb_m_file, tb_m_size, tb_m_group, tb_m_max, tb_l_file, tb_l_size, tb_l_group,
                   tb_l_max, Button15, Button16});

    connect(Button15, &QPushButton::clicked, this, [this] { Button15Click(); });
    connect(tb_m_file, &dv::PathEdit::buttonClicked, this, [this] { tb_m_fileButtonClick(); });
    connect(tb_l_file, &dv::PathEdit::buttonClicked, this, [this] { tb_l_fileButtonClick(); });
    onKeyPress(tb_db, &TFMAIN::tb_dbKeyPress);
    onKeyPress(tb_m_file, &TFMAIN::tb_m_fileKeyPress);
    onKeyPress(tb_m_size, &TFMAIN::tb_m_sizeKeyPress);
    onKeyPress(tb_m_group, &TFMAIN::tb_m_groupKeyPress);
    onKeyPress(tb_m_max, &TFMAIN::tb_m_maxKeyPress);
    onKeyPress(tb_l_file, &TFMAIN::tb_l_fileKeyPress);
    onKeyPress(tb_l_size, &TFMAIN::tb_l_sizeKeyPress);
    onKeyPress(tb_l_group, &TFMAIN::tb_l_groupKeyPress);
    onKeyPress(tb_l_max, &TFMAIN::tb_l_maxKeyPress);
}

void TFMAIN::buildBackupPage()
{
    tb_bak_path = new dv::PathEdit(ts2);
    Button3 = new QPushButton(u("备份[&3]"), ts2);
    Button4 = exitButton(this, ts2);
    simplePage(ts2, {{"数据库名称", cb_db}, {"备份路径", tb_bak_path}}, {Button3, Button4},
               "注:要本地无法备份远程服务器上的数据库");
    chainTabOrder({cb_db, tb_bak_path, Button3, Button4});
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(tb_bak_path, &dv::PathEdit::buttonClicked, this, [this] { tb_bak_pathButtonClick(); });
    onKeyPress(cb_db, &TFMAIN::cb_dbKeyPress);
    onKeyPress(tb_bak_path, &TFMAIN::tb_bak_pathKeyPress);
}

void TFMAIN::buildRestorePage()
{
    cb_db2 = dv::makeDatabasePicker(ts3);
    tb_bak_path2 = new dv::PathEdit(ts3);
    Button5 = new QPushButton(u("还原[&4]"), ts3);
    Button6 = exitButton(this, ts3);
    simplePage(ts3, {{"数据库名称", cb_db2}, {"备份文件路径", tb_bak_path2}}, {Button5, Button6},
               "注:要本地无法还原远程服务器上的数据库");
    chainTabOrder({cb_db2, tb_bak_path2, Button5, Button6});
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(tb_bak_path2, &dv::PathEdit::buttonClicked, this, [this] { tb_bak_path2ButtonClick(); });
    onKeyPress(cb_db2, &TFMAIN::cb_db2KeyPress);
    onKeyPress(tb_bak_path2, &TFMAIN::tb_bak_path2KeyPress);
}

void TFMAIN::buildDetachPage()
{
    Button7 = new QPushButton(u("分离[&5]"), ts4);
    Button8 = exitButton(this, ts4);
    simplePage(ts4, {{"数据库名称", cb_db3}}, {Button7, Button8}, "注:只要有权限,那里的数据库都能分离");
    chainTabOrder({cb_db3, Button7, Button8});
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });
    onKeyPress(cb_db3, &TFMAIN::cb_db3KeyPress);
}

void TFMAIN::buildAttachPage()
{
    // The log-file field sits below the data-file field but is reached last,
    // after the two buttons.
    cb_db4 = dv::makeDatabasePicker(ts5);
    tb_m_path = new dv::PathEdit(ts5);
    tb_l_path = new dv::PathEdit(ts5);
    Button9 = new QPushButton(u("附加[&6]"), ts5);
    Button10 = exitButton(this, ts5);
    simplePage(ts5, {{"数据库名称", cb_db4}, {"主文件路径", tb_m_path}, {"日志文件路径", tb_l_path}},
               {Button9, Button10}, nullptr);
    chainTabOrder({cb_db4, tb_m_path, Button9, Button10, tb_l_path});
    connect(Button9, &QPushButton::clicked, this, [this] { Button9Click(); });
    connect(tb_m_path, &dv::PathEdit::buttonClicked, this, [this] { tb_m_pathButtonClick(); });
    connect(tb_l_path, &dv::PathEdit::buttonClicked, this, [this] { tb_l_pathButtonClick(); });
    onKeyPress(cb_db4, &TFMAIN::cb_db4KeyPress);
    onKeyPress(tb_m_path, &TFMAIN::tb_m_pathKeyPress);
    onKeyPress(tb_l_path, &TFMAIN::tb_l_pathKeyPress);
}

void TFMAIN::buildDropPage()
{
    Button11 = new QPushButton(u("删除[&7]"), ts6);
    Button12 = exitButton(this, ts6);
    simplePage(ts6, {{"数据库名称", cb_db5}}, {Button11, Button12}, nullptr);
    chainTabOrder({cb_db5, Button11, Button12});
    connect(Button11, &QPushButton::clicked, this, [this] { Button11Click(); });
    onKeyPress(cb_db5, &TFMAIN::cb_db5KeyPress);
}

void TFMAIN::buildShrinkPage()
{
    Button13 = new QPushButton(u("压缩[&8]"), ts7);
    Button14 = exitButton(this, ts7);
    simplePage(ts7, {{"数据库名称", cb_db6}}, {Button13, Button14}, "注:只要有权限,那里的都能压缩");
    chainTabOrder({cb_db6, Button13, Button14});
    connect(Button13, &QPushButton::clicked, this, [this] { Button13Click(); });
    onKeyPress(cb_db6, &TFMAIN::cb_db6KeyPress);
}

void TFMAIN::RunMaintenance(const dv::MaintenanceOperation &op, const QStringList &lines)
{
    const QString title = QString::fromUtf8(op.title);
    q->close();
    q->clearLines();
    for (const QString &line : dv::maintenanceBatch(lines))
        q->addLine(line);
    try {
        q->execute();
        q->close();
        dv::showMessageBox(QString::fromUtf8(op.successMessage));
        AppendLog(title + q->commandText() + QStringLiteral("操作成功"));
        if (op.refresh)
            RefreshDatabaseList();
    } catch (...) {
        // The error's own text is neither shown nor logged. The log shows the
        // command text of `q` as it is now: after a failed refresh that is the
        // catalogue query.
        try {
            q->close();
        } catch (...) {
        }
        dv::showMessageBox(QString::fromUtf8(op.failureMessage));
        AppendLog(title + q->commandText() + QStringLiteral("操作失败"));
    }
}

// ---- operations ----

void TFMAIN::Button15Click()
{
    dv::CreateDatabaseFields f;
    f.db = tb_db->text();
    f.mFile = tb_m_file->text();
    f.mSize = tb_m_size->text();
    f.mGrowth = tb_m_group->text();
    f.mMax = tb_m_max->text();
    f.lFile = tb_l_file->text();
    f.lSize = tb_l_size->text();
    f.lGrowth = tb_l_group->text();
    f.lMax = tb_l_max->text();
    const QStringList lines = dv::createDatabaseLines(f);
    if (lines.isEmpty())
        return;
    RunMaintenance(dv::ops::Create, lines);
}

void TFMAIN::Button3Click() { RunMaintenance(dv::ops::Backup, dv::backupLines(cb_db->currentText(), tb_bak_path->text())); }

void TFMAIN::Button5Click()
{
    const QString db = cb_db2->currentText();
    const QString path = tb_bak_path2->text();
    // A file that holds several backup sets restores set 1, the oldest, unless
    // told otherwise: ask the server which sets the file holds and take the
    // newest one of this database. When the file cannot be read here, the
    // restore below reports it.
    QList<dv::BackupSetInfo> sets;
    try {
        q->close();
        q->setLines({dv::restoreHeaderQuery(path)});
        q->open();
        for (; !q->eof(); q->next())
            sets.append({q->fieldByName(QStringLiteral("Position")).toInt(),
                         q->fieldByName(QStringLiteral("DatabaseName"))});
        q->close();
    } catch (...) {
        sets.clear();
        try {
            q->close();
        } catch (...) {
        }
    }
    RunMaintenance(dv::ops::Restore, dv::restoreLines(db, path, dv::newestBackupSetOf(db, sets)));
}

void TFMAIN::Button7Click()
{
    const QString db = cb_db3->currentText();
    if (db.isEmpty())
        return;
    RunMaintenance(dv::ops::Detach, dv::detachLines(db));
}

void TFMAIN::Button9Click()
{
    const QString db = cb_db4->currentText();
    const QString dataPath = tb_m_path->text();
    const QString logPath = tb_l_path->text();
    if (db.isEmpty() || dataPath.isEmpty() || logPath.isEmpty())
        return;
    RunMaintenance(dv::ops::Attach, dv::attachLines(db, dataPath, logPath));
}

void TFMAIN::Button11Click()
{
    const QString db = cb_db5->currentText();
    if (db.isEmpty())
        return;
    RunMaintenance(dv::ops::Drop, dv::dropLines(db));
}

void TFMAIN::Button13Click()
{
    const QString db = cb_db6->currentText();
    if (db.isEmpty())
        return;
    RunMaintenance(dv::ops::Shrink, dv::shrinkLines(db));
}

// ---- browse buttons ----

namespace {
void browseInto(dv::FileDialog &dialog, QLineEdit *field, QWidget *parent)
{
    if (dialog.execute(parent))
        field->setText(dialog.fileName);
}
} // namespace

void TFMAIN::tb_m_fileButtonClick() { browseInto(*SaveDialog3, tb_m_file, this); }
void TFMAIN::tb_l_fileButtonClick() { browseInto(*SaveDialog4, tb_l_file, this); }

void TFMAIN::tb_bak_pathButtonClick()
{
    // Proposed afresh on every browse, so only the filter choice carries over.
    SaveDialog1->fileName = dv::proposedBackupFileName(cb_db->currentText(), QDateTime::currentDateTime());
    browseInto(*SaveDialog1, tb_bak_path, this);
}

void TFMAIN::tb_bak_path2ButtonClick() { browseInto(*OpenDialog1, tb_bak_path2, this); }
void TFMAIN::tb_m_pathButtonClick() { browseInto(*OpenDialog1, tb_m_path, this); }
void TFMAIN::tb_l_pathButtonClick() { browseInto(*OpenDialog1, tb_l_path, this); }

// ---- Enter chains: each reacts to Enter only and lets other keys through ----

namespace {
// Enter in a filled field moves on to `next`.
void focusIfFilled(const QKeyEvent *e, const QString &text, QWidget *next)
{
    if (isEnterKey(e) && !text.isEmpty())
        next->setFocus();
}

// Enter in a path field: when filled, go on; when empty, browse.
template <class Filled, class Browse>
void enterInPathField(const QKeyEvent *e, const QLineEdit *field, Filled filled, Browse browse)
{
    if (!isEnterKey(e))
        return;
    if (field->text().isEmpty())
        browse();
    else
        filled();
}
} // namespace

void TFMAIN::tb_dbKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_db->text(), tb_m_file); }
// No dialog from an empty file field on the create page; only the browse button opens it.
void TFMAIN::tb_m_fileKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_m_file->text(), tb_m_size); }
void TFMAIN::tb_m_sizeKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_m_size->text(), tb_m_group); }
void TFMAIN::tb_m_groupKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_m_group->text(), tb_m_max); }

void TFMAIN::tb_m_maxKeyPress(QKeyEvent *e)
{
    if (isEnterKey(e))
        tb_l_file->setFocus();
}

void TFMAIN::tb_l_fileKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_l_file->text(), tb_l_size); }
void TFMAIN::tb_l_sizeKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_l_size->text(), tb_l_group); }
void TFMAIN::tb_l_groupKeyPress(QKeyEvent *e) { focusIfFilled(e, tb_l_group->text(), tb_l_max); }

void TFMAIN::tb_l_maxKeyPress(QKeyEvent *e)
{
    if (isEnterKey(e))
        Button15Click();
}

void TFMAIN::cb_dbKeyPress(QKeyEvent *e) { focusIfFilled(e, cb_db->currentText(), tb_bak_path); }

void TFMAIN::tb_bak_pathKeyPress(QKeyEvent *e)
{
    enterInPathField(e, tb_bak_path, [this] { Button3Click(); }, [this] { tb_bak_pathButtonClick(); });
}

void TFMAIN::cb_db2KeyPress(QKeyEvent *e) { focusIfFilled(e, cb_db2->currentText(), tb_bak_path2); }

void TFMAIN::tb_bak_path2KeyPress(QKeyEvent *e)
{
    enterInPathField(e, tb_bak_path2, [this] { Button5Click(); }, [this] { tb_bak_path2ButtonClick(); });
}

void TFMAIN::cb_db3KeyPress(QKeyEvent *e)
{
    if (isEnterKey(e) && !cb_db3->currentText().isEmpty())
        Button7Click();
}

void TFMAIN::cb_db4KeyPress(QKeyEvent *e) { focusIfFilled(e, cb_db4->currentText(), tb_m_path); }

void TFMAIN::tb_m_pathKeyPress(QKeyEvent *e)
{
    enterInPathField(e, tb_m_path, [this] { tb_l_path->setFocus(); }, [this] { tb_m_pathButtonClick(); });
}

void TFMAIN::tb_l_pathKeyPress(QKeyEvent *e)
{
    enterInPathField(e, tb_l_path, [this] { Button9Click(); }, [this] { tb_l_pathButtonClick(); });
}

void TFMAIN::cb_db5KeyPress(QKeyEvent *e)
{
    if (isEnterKey(e) && !cb_db5->currentText().isEmpty())
        Button11Click();
}

void TFMAIN::cb_db6KeyPress(QKeyEvent *e)
{
    if (isEnterKey(e) && !cb_db6->currentText().isEmpty())
        Button13Click();
}
