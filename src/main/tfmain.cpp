#include "tfmain.h"

#include "client/dbclient.h"
#include "client/query.h"
#include "core/oplog.h"
#include "main/uikit.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShortcutEvent>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>

namespace {

const char *const kPageCaptions[10] = {"登录[&L]", "创建[&R]", "备份[&B]", "还原[&R]", "分离[&C]",
                                       "附加[&A]", "删除[&D]", "压缩[&Z]", "日志[&O]", "执行SQL"};

const char *const kPageHints[10] = {
    "如果没有登录,请登录;如果登录,可进行其他操作",
    "可以进行数据库的添加操作",
    "可以进行数据库的备份操作",
    "可以进行数据库的还原操作",
    "可以进行数据库的分离操作",
    "可以进行数据库的附加操作",
    "可以进行数据库的删除操作",
    "可以进行数据库的压缩操作",
    "所有的数据库有关操作,可使用F10进行备份",
    "可进行查询更改数据库操作",
};

const char *const kInfoText = "个人空间[Dorvane 项目]";
const char *const kProjectPage = "https://dorvane.example.org/";
const char *const kStatusNote = "Dorvane 数据库工具";

const char *const kNotLoggedIn = "错误编号:1000\r\n\r\n还没有登录,不能使用此功能,请先登录";

} // namespace

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
    // Under an application style sheet a child no longer inherits its
    // parent's font; hand it on to every control that has none of its own
    // (parents come before their children in this walk).
    for (QWidget *child : findChildren<QWidget *>()) {
        if (!child->testAttribute(Qt::WA_SetFont) && child->parentWidget())
            child->setFont(child->parentWidget()->font());
    }
    // Only now: the builders above must not trigger the gate.
    connect(pc, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_gateReturning)
            pcChange(index);
    });
}

namespace {

// Segoe UI Light for Latin text; Chinese text from Microsoft YaHei on
// Windows, from WenQuanYi or Noto CJK elsewhere.
QFont windowFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("Segoe UI Light"), QStringLiteral("Microsoft YaHei"),
                   QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(19);
    return f;
}

// The information link: bold 14 px SimSun, WenQuanYi where SimSun is missing.
QFont infoLinkFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(14);
    f.setBold(true);
    return f;
}

} // namespace

TFMAIN::~TFMAIN() = default;

void TFMAIN::buildFrame()
{
    setObjectName(QStringLiteral("FMAIN"));
    setWindowTitle(QString::fromUtf8(dv::kAppTitle));
    // System menu and close button only: no minimize or maximize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFont(windowFont());
    // Design size; the program shows the window maximized.
    resize(648, 642);

    auto *central = new QWidget(this);
    auto *v = new QVBoxLayout(central);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    Panel1 = new QFrame(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setFixedHeight(41);
    Panel1->setAutoFillBackground(true);
    QPalette bandPalette = Panel1->palette();
    bandPalette.setColor(QPalette::Window, QColor(0x87, 0xce, 0xeb)); // sky blue
    Panel1->setPalette(bandPalette);
    auto *band = new QHBoxLayout(Panel1);
    band->setContentsMargins(8, 0, 8, 0);

    lbl_info = new QLabel(QString::fromUtf8(kInfoText), Panel1);
    lbl_info->setObjectName(QStringLiteral("lbl_info"));
    lbl_info->setFont(infoLinkFont());
    QPalette infoPalette = lbl_info->palette();
    infoPalette.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    lbl_info->setPalette(infoPalette);
    lbl_info->setCursor(Qt::PointingHandCursor);
    lbl_info->setToolTip(QString::fromLatin1(kProjectPage));
    lbl_info->installEventFilter(this);
    band->addWidget(lbl_info);
    band->addStretch(1);
    v->addWidget(Panel1);

    auto *pageArea = new QWidget(central);
    auto *pv = new QVBoxLayout(pageArea);
    pv->setContentsMargins(6, 6, 8, 2);
    pc = new QTabWidget(pageArea);
    pc->setObjectName(QStringLiteral("pc"));
    pv->addWidget(pc);
    v->addWidget(pageArea, 1);
    setCentralWidget(central);

    QWidget **pages[] = {&ts0, &ts1, &ts2, &ts3, &ts4, &ts5, &ts6, &ts7, &ts8, &TabSheet1};
    const char *names[] = {"ts0", "ts1", "ts2", "ts3", "ts4", "ts5", "ts6", "ts7", "ts8", "TabSheet1"};
    for (int i = 0; i < 10; ++i) {
        *pages[i] = new QWidget(pc);
        (*pages[i])->setObjectName(QString::fromLatin1(names[i]));
        pc->addTab(*pages[i], QString::fromUtf8(kPageCaptions[i]));
    }
    // Two pages carry Alt+R; the tab bar's shortcuts are answered here so
    // that the first of them always wins.
    pc->tabBar()->installEventFilter(this);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setFixedHeight(55);
    statusBar()->setSizeGripEnabled(false);
    statusPanel0 = new QLabel(QString::fromUtf8(kStatusNote), this);
    statusPanel0->setFixedWidth(200);
    statusPanel0->setAlignment(Qt::AlignCenter);
    statusPanel1 = new QLabel(pageHint(0), this);
    statusPanel1->setMinimumWidth(50);
    statusBar()->addWidget(statusPanel0);
    statusBar()->addWidget(statusPanel1, 1);
}

QString TFMAIN::pageHint(int index)
{
    if (index < 0 || index > 9)
        return {};
    return QString::fromUtf8(kPageHints[index]);
}

void TFMAIN::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TFMAIN::closeEvent(QCloseEvent *e)
{
    FormClose();
    QMainWindow::closeEvent(e);
}

void TFMAIN::FormShow()
{
    if (tb_server)
        tb_server->setFocus();
    showNavigator(false);
}

void TFMAIN::FormClose()
{
    if (conn->isConnected())
        conn->close();
}

void TFMAIN::Button2Click()
{
    close();
}

void TFMAIN::pcChange(int)
{
    if (!conn->isConnected()) {
        dv::showMessageBox(QString::fromUtf8(kNotLoggedIn));
        m_gateReturning = true;
        pc->setCurrentIndex(0);
        m_gateReturning = false;
        if (tb_server)
            tb_server->setFocus();
        showNavigator(false);
    }
    const int index = pc->currentIndex();
    if (index >= 0 && index <= 8) {
        statusPanel1->setText(pageHint(index));
    } else if (index == 9) {
        showNavigator(true);
        statusPanel1->setText(pageHint(index));
    }
}

void TFMAIN::lbl_infoClick()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProjectPage)));
}

// ---- Operation log ----

void TFMAIN::buildLogPage()
{
    auto *l = new QVBoxLayout(ts8);
    l->setContentsMargins(0, 0, 0, 0);
    tb_memo = new QPlainTextEdit(ts8);
    tb_memo->setObjectName(QStringLiteral("tb_memo"));
    tb_memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    tb_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    tb_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    l->addWidget(tb_memo);
    onKeyPress(tb_memo, &TFMAIN::tb_memoKeyDown);

    SaveDialog2 = std::make_unique<dv::FileDialog>(dv::FileDialog::Save, QStringLiteral("日志保存窗口"),
                                                   QStringLiteral("所有文件|*.TXT;*.SQL|TXT文件|*.TXT|SQL文件|*.SQL"));
}

// The memo keeps paragraphs: "the text ends with a line break" is "the last
// block is empty". Each addition is inserted at the end with a cursor, so a
// long log is never copied or laid out again as a whole.
//
// What the program writes is the record and cannot be undone: the entry goes
// in with the undo history switched off, which also drops the history of the
// operator's typing before it (its positions would no longer fit the text).
// Typing after the entry is undoable again. As in a plain edit control that
// gets a line added, the caret then stands at the end and the view shows it.
void TFMAIN::AppendLog(const QString &text)
{
    QTextDocument *doc = tb_memo->document();
    doc->setUndoRedoEnabled(false);
    QTextCursor cur(doc);
    cur.beginEditBlock();
    cur.movePosition(QTextCursor::End);
    // An empty last block: the memo is empty or ends with a line break.
    cur.insertText(dv::logEntryAddition(doc->lastBlock().length() <= 1, text, QDateTime::currentDateTime()));
    cur.endEditBlock();
    doc->setUndoRedoEnabled(true);
    cur.movePosition(QTextCursor::End);
    tb_memo->setTextCursor(cur);
    tb_memo->ensureCursorVisible();
}

void TFMAIN::tb_memoKeyDown(QKeyEvent *e)
{
    if (e->key() != Qt::Key_F10)
        return;
    if (!SaveDialog2->execute(this))
        return;
    try {
        saveLogTo(SaveDialog2->fileName);
    } catch (const std::exception &ex) {
        dv::showErrorDisplay(dv::exceptionText(ex));
    }
}

void TFMAIN::saveLogTo(const QString &fileName)
{
    dv::saveLogFile(fileName, dv::encodeLogText(dv::withCrLf(tb_memo->toPlainText())));
}

// ---- Key routing ----

void TFMAIN::onKeyPress(QWidget *w, void (TFMAIN::*handler)(QKeyEvent *))
{
    // An editable combo box keeps the focus itself and hands typed keys to its
    // line edit by a direct call, so the combo box is the one to watch.
    m_keyHandlers.insert(w, handler);
    w->installEventFilter(this);
}

bool TFMAIN::eventFilter(QObject *watched, QEvent *e)
{
    switch (e->type()) {
    case QEvent::KeyPress: {
        auto it = m_keyHandlers.constFind(watched);
        if (it != m_keyHandlers.constEnd()) {
            auto *ke = static_cast<QKeyEvent *>(e);
            const bool wasAccepted = ke->isAccepted();
            ke->ignore();
            (this->*it.value())(ke);
            if (ke->isAccepted())
                return true;
            ke->setAccepted(wasAccepted);
        }
        break;
    }
    case QEvent::Shortcut:
        if (pc && watched == pc->tabBar()) {
            // Select the first page whose caption carries the pressed
            // accelerator, however often it is pressed.
            const QKeySequence key = static_cast<QShortcutEvent *>(e)->key();
            for (int i = 0; i < pc->count(); ++i) {
                if (QKeySequence::mnemonic(pc->tabText(i)) == key) {
                    pc->setCurrentIndex(i);
                    return true;
                }
            }
        }
        break;
    case QEvent::MouseButtonRelease:
        if (watched == lbl_info && static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) {
            lbl_infoClick();
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}
