#include "support/operatorinput.h"

#include "main/tfmain.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

namespace dvtest {

namespace {

QString nameOf(const QWidget *w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
}

bool refuse(const QWidget *w)
{
    const QString why = whyUnusable(w);
    if (why.isEmpty())
        return false;
    qWarning("operator input refused: %s", qPrintable(why));
    return true;
}

bool hasText(QWidget *w)
{
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return !e->text().isEmpty();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return !c->currentText().isEmpty();
    if (auto *t = qobject_cast<QTextEdit *>(w))
        return !t->document()->isEmpty();
    if (auto *p = qobject_cast<QPlainTextEdit *>(w))
        return !p->document()->isEmpty();
    return false;
}

} // namespace

QString whyUnusable(const QWidget *w)
{
    if (!w)
        return QStringLiteral("no such control");
    if (!w->isVisible())
        return nameOf(w) + QStringLiteral(" is hidden");
    if (!w->isEnabled())
        return nameOf(w) + QStringLiteral(" is disabled");
    return {};
}

bool clickOn(QWidget *w)
{
    if (refuse(w))
        return false;
    QTest::mouseClick(w, Qt::LeftButton);
    return true;
}

bool typeInto(QWidget *w, const QString &text)
{
    if (refuse(w))
        return false;
    // Keys go where the operator's keys go: the widget with the focus.
    w->setFocus(Qt::MouseFocusReason);
    QWidget *target = w;
    if (hasText(target)) {
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Delete);
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue;
        if (c == u'\r' || c == u'\n') {
            QTest::keyClick(target, Qt::Key_Return);
        } else if (c.unicode() >= 0x20 && c.unicode() < 0x7f) {
            QTest::keyClick(target, char(c.unicode()));
        } else {
            // What an input method does for a character no key types.
            qsizetype n = 1;
            if (c.isHighSurrogate() && i + 1 < text.size())
                n = 2;
            QInputMethodEvent commit;
            commit.setCommitString(text.mid(i, n));
            QApplication::sendEvent(target, &commit);
            i += n - 1;
        }
    }
    return true;
}

QString textOf(const QWidget *w)
{
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<const QComboBox *>(w))
        return c->currentText();
    if (auto *t = qobject_cast<const QTextEdit *>(w))
        return t->toPlainText();
    if (auto *p = qobject_cast<const QPlainTextEdit *>(w))
        return p->toPlainText();
    return {};
}

QStringList shownColumn(const QAbstractItemModel *model, int column)
{
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r)
        out << model->index(r, column).data().toString();
    return out;
}

bool pasteInto(QWidget *w, const QString &text)
{
    if (refuse(w))
        return false;
    w->setFocus(Qt::MouseFocusReason);
    if (hasText(w)) {
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Delete);
    }
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    return true;
}

bool clickPageOf(TFMAIN &win, const QWidget *w)
{
    if (!showWindow(win))
        return false;
    for (int i = 0; i < win.pc->count(); ++i) {
        if (!win.pc->widget(i)->isAncestorOf(w))
            continue;
        if (win.pc->currentIndex() != i && !clickPage(win, i))
            return false;
        if (win.pc->currentIndex() == i)
            return true;
        qWarning("operator input: page %d, holding %s, did not open", i, qPrintable(w->objectName()));
        return false;
    }
    qWarning("operator input: %s is on no page", qPrintable(w->objectName()));
    return false;
}

bool typeOnPage(TFMAIN &win, QWidget *field, const QString &text)
{
    if (!clickPageOf(win, field) || !typeInto(field, text))
        return false;
    // Line edits and editors show a line break the operator types as LF.
    QString want = text;
    if (!qobject_cast<QLineEdit *>(field) && !qobject_cast<QComboBox *>(field))
        want.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    const QString got = textOf(field);
    if (got == want)
        return true;
    qWarning("operator input: %s holds \"%s\" after typing \"%s\"", qPrintable(field->objectName()),
             qPrintable(got.left(200)), qPrintable(want.left(200)));
    return false;
}

bool clickOnPage(TFMAIN &win, QWidget *button)
{
    return clickPageOf(win, button) && clickOn(button);
}

bool showWindow(TFMAIN &win)
{
    if (!win.isVisible())
        win.show();
    win.activateWindow();
    return QTest::qWaitForWindowExposed(&win);
}

bool clickPage(TFMAIN &win, int index)
{
    QTabBar *bar = win.pc->tabBar();
    if (refuse(bar))
        return false;
    if (index < 0 || index >= bar->count())
        return false;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    return true;
}

} // namespace dvtest
