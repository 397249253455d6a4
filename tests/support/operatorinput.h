// Driving the window as the operator can: only controls that are visible and
// enabled are clicked or typed into, and text arrives as key events (or, for
// characters no key types, as an input method's commit).
#pragma once

#include <QString>

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

} // namespace dvtest
