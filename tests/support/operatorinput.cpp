#include "support/operatorinput.h"

#include "main/tfmain.h"

#include <QApplication>
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
