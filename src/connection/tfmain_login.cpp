// The login page: log in and out over the one connection, and the database
// list that fills the pickers of the backup, detach, drop and shrink pages.
#include "client/dbclient.h"
#include "client/query.h"
#include "core/operations.h"
#include "main/tfmain.h"
#include "main/uikit.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

using dv::isEnterKey;

// Qt moves between radio buttons only towards the neighbour an arrow points
// at; the two modes sit side by side, so Down and Up would do nothing. Here
// they act as Right and Left, as every arrow key does in a native group of
// radio buttons.
class VerticalArrowsSideways : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto *k = static_cast<QKeyEvent *>(e);
        if (k->key() != Qt::Key_Down && k->key() != Qt::Key_Up)
            return false;
        QKeyEvent sideways(QEvent::KeyPress, k->key() == Qt::Key_Down ? Qt::Key_Right : Qt::Key_Left,
                           k->modifiers(), k->text(), k->isAutoRepeat(), ushort(k->count()));
        QCoreApplication::sendEvent(watched, &sideways);
        return true;
    }
};

QComboBox *makePicker(QWidget *page, const char *name)
{
    QComboBox *cb = dv::makeDatabasePicker(page);
    cb->setObjectName(QString::fromLatin1(name));
    return cb;
}

// The connection state label: red, 14 px 宋体 (or the nearest font at hand).
QLabel *makeStateLabel(QWidget *page)
{
    auto *label = new QLabel(QStringLiteral("未连接"), page);
    label->setObjectName(QStringLiteral("lbl_ini"));
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(14);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    return label;
}

// The server field, the two modes, the user and password fields and the two buttons.
void createLoginControls(TFMAIN &w)
{
    QWidget *page = w.ts0;
    w.tb_server = new QLineEdit(page);
    w.tb_server->setObjectName(QStringLiteral("tb_server"));
    w.rb1 = new QRadioButton(QStringLiteral("数据库模式"), page);
    w.rb1->setObjectName(QStringLiteral("rb1"));
    w.rb1->setChecked(true);
    w.rb2 = new QRadioButton(QStringLiteral("NT模式"), page);
    w.rb2->setObjectName(QStringLiteral("rb2"));
    w.tb_uid = new QLineEdit(page);
    w.tb_uid->setObjectName(QStringLiteral("tb_uid"));
    w.tb_pwd = new QLineEdit(page);
    w.tb_pwd->setObjectName(QStringLiteral("tb_pwd"));
    w.tb_pwd->setEchoMode(QLineEdit::Password);
    // The mask character is "*", whatever the style would draw.
    w.tb_pwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    w.Button1 = new QPushButton(QStringLiteral("登录[&1]"), page);
    w.Button1->setObjectName(QStringLiteral("Button1"));
    w.Button2 = new QPushButton(QStringLiteral("退出[&X]"), page);
    w.Button2->setObjectName(QStringLiteral("Button2"));
}

// The fields with their labels in rows 0 to 3 of `grid`, the buttons in row 4.
void layOutLoginControls(TFMAIN &w, QGridLayout *grid)
{
    QWidget *page = w.ts0;
    auto *serverLabel = new QLabel(QStringLiteral("SQL服务器"), page);
    serverLabel->setBuddy(w.tb_server);
    auto *serverHint = new QLabel(QStringLiteral("如果有实例名,请加实例名"), page);
    auto *uidLabel = new QLabel(QStringLiteral("登录用户名"), page);
    uidLabel->setBuddy(w.tb_uid);
    auto *pwdLabel = new QLabel(QStringLiteral("登录用户密码"), page);
    pwdLabel->setBuddy(w.tb_pwd);

    grid->addWidget(serverLabel, 0, 0);
    grid->addWidget(w.tb_server, 0, 1);
    grid->addWidget(serverHint, 0, 2);
    auto *modes = new QHBoxLayout;
    modes->addWidget(w.rb1);
    modes->addSpacing(24);
    modes->addWidget(w.rb2);
    modes->addStretch(1);
    grid->addLayout(modes, 1, 1, 1, 2);
    grid->addWidget(uidLabel, 2, 0);
    grid->addWidget(w.tb_uid, 2, 1);
    grid->addWidget(pwdLabel, 3, 0);
    grid->addWidget(w.tb_pwd, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(w.Button1);
    buttons->addSpacing(16);
    buttons->addWidget(w.Button2);
    buttons->addStretch(1);
    grid->addLayout(buttons, 4, 1, 1, 2);
}

// Tab order, the handlers of the buttons and the modes, the Enter chain and
// the arrow keys of the two modes.
void wireLoginControls(TFMAIN &w)
{
    QWidget::setTabOrder(w.tb_server, w.rb1);
    QWidget::setTabOrder(w.rb1, w.rb2);
    QWidget::setTabOrder(w.rb2, w.tb_uid);
    QWidget::setTabOrder(w.tb_uid, w.tb_pwd);
    QWidget::setTabOrder(w.tb_pwd, w.Button1);
    QWidget::setTabOrder(w.Button1, w.Button2);

    QObject::connect(w.rb1, &QRadioButton::clicked, &w, &TFMAIN::rb2Click);
    QObject::connect(w.rb2, &QRadioButton::clicked, &w, &TFMAIN::rb2Click);
    QObject::connect(w.Button1, &QPushButton::clicked, &w, &TFMAIN::Button1Click);
    QObject::connect(w.Button2, &QPushButton::clicked, &w, &TFMAIN::Button2Click);
    w.onKeyPress(w.tb_server, &TFMAIN::tb_serverKeyPress);
    w.onKeyPress(w.rb1, &TFMAIN::rb1KeyPress);
    w.onKeyPress(w.rb2, &TFMAIN::rb2KeyPress);
    w.onKeyPress(w.tb_uid, &TFMAIN::tb_uidKeyPress);
    w.onKeyPress(w.tb_pwd, &TFMAIN::tb_pwdKeyPress);
    auto *arrows = new VerticalArrowsSideways(w.ts0);
    w.rb1->installEventFilter(arrows);
    w.rb2->installEventFilter(arrows);
}

} // namespace

void TFMAIN::buildLoginPage()
{
    ts0->setObjectName(QStringLiteral("ts0"));
    auto *outer = new QVBoxLayout(ts0);
    outer->setContentsMargins(24, 24, 24, 16);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(14);
    outer->addLayout(grid);

    createLoginControls(*this);
    layOutLoginControls(*this, grid);
    lbl_ini = makeStateLabel(ts0);
    grid->addWidget(lbl_ini, 5, 1, 1, 2);

    auto *note = new QLabel(QStringLiteral("注:请使用具有管理员权限的用户登录,否则会出错"), ts0);
    note->setWordWrap(true);
    outer->addSpacing(12);
    outer->addWidget(note);
    outer->addStretch(1);

    wireLoginControls(*this);

    // The four pickers that the database list fills. They belong to the
    // backup, detach, drop and shrink pages, whose builders place them.
    cb_db = makePicker(ts2, "cb_db");
    cb_db3 = makePicker(ts4, "cb_db3");
    cb_db5 = makePicker(ts6, "cb_db5");
    cb_db6 = makePicker(ts7, "cb_db6");
}

void TFMAIN::rb2Click()
{
    const bool sqlLogin = rb1->isChecked();
    tb_uid->setEnabled(sqlLogin);
    tb_pwd->setEnabled(sqlLogin);
}

void TFMAIN::SetLoginFieldsEnabled(bool enabled)
{
    tb_server->setEnabled(enabled);
    rb1->setEnabled(enabled);
    rb2->setEnabled(enabled);
    tb_uid->setEnabled(enabled);
    tb_pwd->setEnabled(enabled);
}

void TFMAIN::Button1Click()
{
    if (conn->isConnected()) {
        conn->close();
        Button1->setText(QStringLiteral("登录[&1]"));
        tb_uid->clear();
        tb_pwd->clear();
        rb1->setChecked(true);
        SetLoginFieldsEnabled(true);
        tb_server->setFocus();
        lbl_ini->setText(QStringLiteral("未连接"));
        AppendLog(QStringLiteral("成功退出数据库服务器:[") + tb_server->text() + QStringLiteral("]"));
        return;
    }

    if (tb_server->text().isEmpty())
        return;
    if (rb1->isChecked() && tb_uid->text().isEmpty())
        return;

    dv::ConnectParams params;
    params.server = tb_server->text();
    params.integrated = rb2->isChecked();
    if (!params.integrated) { // integrated login carries no user name or password
        params.user = tb_uid->text();
        params.password = tb_pwd->text();
    }
    params.loginTimeoutSec = 15;

    // A failed login is silent; whatever the block finished before the error
    // stays in effect.
    try {
        conn->open(params);
        RefreshDatabaseList();
        Button1->setText(QStringLiteral("断开[&1]"));
        lbl_ini->setText(QStringLiteral("登录中"));
        SetLoginFieldsEnabled(false);
        AppendLog(QStringLiteral("成功登录数据库服务器:[") + tb_server->text() + QStringLiteral("]"));
    } catch (...) {
    }
}

void TFMAIN::RefreshDatabaseList()
{
    q->close();
    q->setLines({QString::fromLatin1(dv::kCatalogueQuery)});
    q->open();
    QComboBox *const pickers[] = {cb_db, cb_db3, cb_db5, cb_db6};
    for (QComboBox *cb : pickers)
        dv::setPickerItems(cb, {});
    // The names are gathered first and set into each picker at once; a failure
    // while reading leaves the pickers holding the names read before it, and q
    // open, as adding them one by one would.
    QStringList names;
    auto fill = [&] {
        for (QComboBox *cb : pickers)
            dv::setPickerItems(cb, names);
    };
    try {
        while (!q->eof()) {
            names << q->fieldByName(QStringLiteral("name"));
            q->next();
        }
    } catch (...) {
        fill();
        throw;
    }
    fill();
    q->close();
}

void TFMAIN::tb_serverKeyPress(QKeyEvent *e)
{
    if (isEnterKey(e) && !tb_server->text().isEmpty())
        rb1->setFocus();
}

void TFMAIN::rb1KeyPress(QKeyEvent *e)
{
    if (isEnterKey(e))
        tb_uid->setFocus();
}

void TFMAIN::rb2KeyPress(QKeyEvent *e)
{
    if (isEnterKey(e))
        Button1Click();
}

void TFMAIN::tb_uidKeyPress(QKeyEvent *e)
{
    if (isEnterKey(e) && !tb_uid->text().isEmpty())
        tb_pwd->setFocus();
}

void TFMAIN::tb_pwdKeyPress(QKeyEvent *e)
{
    if (isEnterKey(e))
        Button1Click();
}
