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

    tb_server = new QLineEdit(ts0);
    tb_server->setObjectName(QStringLiteral("tb_server"));
    rb1 = new QRadioButton(QStringLiteral("数据库模式"), ts0);
    rb1->setObjectName(QStringLiteral("rb1"));
    rb1->setChecked(true);
    rb2 = new QRadioButton(QStringLiteral("NT模式"), ts0);
    rb2->setObjectName(QStringLiteral("rb2"));
    tb_uid = new QLineEdit(ts0);
    tb_uid->setObjectName(QStringLiteral("tb_uid"));
    tb_pwd = new QLineEdit(ts0);
    tb_pwd->setObjectName(QStringLiteral("tb_pwd"));
    tb_pwd->setEchoMode(QLineEdit::Password);
    // The mask character is "*", whatever the style would draw.
    tb_pwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Button1 = new QPushButton(QStringLiteral("登录[&1]"), ts0);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("退出[&X]"), ts0);
    Button2->setObjectName(QStringLiteral("Button2"));

    auto *serverLabel = new QLabel(QStringLiteral("SQL服务器"), ts0);
    serverLabel->setBuddy(tb_server);
    auto *serverHint = new QLabel(QStringLiteral("如果有实例名,请加实例名"), ts0);
    auto *uidLabel = new QLabel(QStringLiteral("登录用户名"), ts0);
    uidLabel->setBuddy(tb_uid);
    auto *pwdLabel = new QLabel(QStringLiteral("登录用户密码"), ts0);
    pwdLabel->setBuddy(tb_pwd);

    grid->addWidget(serverLabel, 0, 0);
    grid->addWidget(tb_server, 0, 1);
    grid->addWidget(serverHint, 0, 2);
    auto *modes = new QHBoxLayout;
    modes->addWidget(rb1);
    modes->addSpacing(24);
    modes->addWidget(rb2);
    modes->addStretch(1);
    grid->addLayout(modes, 1, 1, 1, 2);
    grid->addWidget(uidLabel, 2, 0);
    grid->addWidget(tb_uid, 2, 1);
    grid->addWidget(pwdLabel, 3, 0);
    grid->addWidget(tb_pwd, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addSpacing(16);
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    grid->addLayout(buttons, 4, 1, 1, 2);

    lbl_ini = new QLabel(QStringLiteral("未连接"), ts0);
    lbl_ini->setObjectName(QStringLiteral("lbl_ini"));
    QFont iniFont;
    iniFont.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    iniFont.setPixelSize(14);
    lbl_ini->setFont(iniFont);
    QPalette iniPalette = lbl_ini->palette();
    iniPalette.setColor(QPalette::WindowText, Qt::red);
    lbl_ini->setPalette(iniPalette);
    grid->addWidget(lbl_ini, 5, 1, 1, 2);

    auto *note = new QLabel(QStringLiteral("注:请使用具有管理员权限的用户登录,否则会出错"), ts0);
    note->setWordWrap(true);
    outer->addSpacing(12);
    outer->addWidget(note);
    outer->addStretch(1);

    QWidget::setTabOrder(tb_server, rb1);
    QWidget::setTabOrder(rb1, rb2);
    QWidget::setTabOrder(rb2, tb_uid);
    QWidget::setTabOrder(tb_uid, tb_pwd);
    QWidget::setTabOrder(tb_pwd, Button1);
    QWidget::setTabOrder(Button1, Button2);

    connect(rb1, &QRadioButton::clicked, this, &TFMAIN::rb2Click);
    connect(rb2, &QRadioButton::clicked, this, &TFMAIN::rb2Click);
    connect(Button1, &QPushButton::clicked, this, &TFMAIN::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFMAIN::Button2Click);
    onKeyPress(tb_server, &TFMAIN::tb_serverKeyPress);
    onKeyPress(rb1, &TFMAIN::rb1KeyPress);
    onKeyPress(rb2, &TFMAIN::rb2KeyPress);
    onKeyPress(tb_uid, &TFMAIN::tb_uidKeyPress);
    onKeyPress(tb_pwd, &TFMAIN::tb_pwdKeyPress);
    auto *arrows = new VerticalArrowsSideways(ts0);
    rb1->installEventFilter(arrows);
    rb2->installEventFilter(arrows);

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
