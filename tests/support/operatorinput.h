// Driving the window as the operator can: only controls that are visible and
// enabled are clicked or typed into, and text arrives as key events (or, for
// characters no key types, as an input method's commit).
#pragma once

#include <QString>
#include <QStringList>

class QAbstractItemModel;
class QWidget;
class TFMAIN;

namespace dvtest {

// "" when the operator can use `w`; otherwise why not ("tb_server is disabled").
QString whyUnusable(const QWidget *w);

// Clicks `w` with the left button. Refuses (false, with a warning naming the
// control) when it is hidden or disabled.
bool clickOn(QWidget *w);

// Clicks into `w` and replaces its text by typing: select all, delete, then
// `text` key by key ("\r\n" and "\n" as Return). Works on line edits,
// editable combo boxes and the rich-text and plain-text editors. Refuses
// (false, nothing typed) when `w` is hidden or disabled.
bool typeInto(QWidget *w, const QString &text);

// Shows the window as the program does and waits until it is on screen.
bool showWindow(TFMAIN &win);

// Selects a page by clicking its tab, as the operator does (the page gate
// then runs as for the operator).
bool clickPage(TFMAIN &win, int index);

// The text `w` holds (line edit, combo box, rich-text or plain-text editor),
// as the program reads it.
QString textOf(const QWidget *w);

// The texts of `column` of `model`, top to bottom, as a grid shows them.
QStringList shownColumn(const QAbstractItemModel *model, int column);

// Replaces the text of `w` by pasting `text` from the clipboard with Ctrl+V,
// as the operator brings in a statement too long to type. Refuses (false,
// nothing pasted) when `w` is hidden or disabled.
bool pasteInto(QWidget *w, const QString &text);

// Brings the page holding `w` to the front by clicking its tab, showing the
// window first; false when that page cannot be reached.
bool clickPageOf(TFMAIN &win, const QWidget *w);

// On the page holding `field`: types `text` into it (typeInto) and checks
// that the field then holds exactly `text`; false, with a warning, otherwise.
bool typeOnPage(TFMAIN &win, QWidget *field, const QString &text);

// On the page holding `button`: clicks it (clickOn).
bool clickOnPage(TFMAIN &win, QWidget *button);

} // namespace dvtest
