// Shared pieces of the window's user interface: the message box, the default
// error display, file dialogs and path fields. Tests answer boxes and dialogs
// through the hooks instead of showing them.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>

class QComboBox;
class QKeyEvent;
class QMessageBox;
class QWidget;

namespace dv {

inline constexpr const char *kAppTitle = "Dorvane1.0.2";

// The outcome box: modal, centred on the screen, titled with the application
// title, no icon, one "OK" button.
void showMessageBox(const QString &text);
// The application's default error display: error icon, the application title,
// the text with a full stop appended unless its last character's code is at or
// below that of ".".
void showErrorDisplay(const QString &text);
QString errorDisplayText(const QString &text);
// The text of any exception as the error display shows it.
QString exceptionText(const std::exception &e);

// Builders of the two boxes (used by the show functions; tests inspect them).
QMessageBox *makeMessageBox(const QString &text);
QMessageBox *makeErrorBox(const QString &text);
// The confirmation box: question icon, "OK" (default) and "Cancel".
QMessageBox *makeConfirmBox(const QString &text);

// When set, called instead of showing the box (tests record the texts).
struct BoxHooks {
    static std::function<void(const QString &)> message;
    static std::function<void(const QString &)> error;
    // Answers the confirmation boxes (e.g. "Delete record?"): true = OK.
    static std::function<bool(const QString &)> confirm;
};
// "Delete record?"-style confirmation with OK and Cancel.
bool confirmBox(const QString &text);

// A file dialog that lives as long as the window and remembers the name and
// filter last confirmed in it. The filter uses the classic "desc|patterns|..."
// form ("所有文件|*.*|MDF文件|*.MDF").
class FileDialog {
public:
    enum Mode { Save, Open };
    FileDialog(Mode mode, QString title, QString filter);

    Mode mode() const { return m_mode; }
    const QString &title() const { return m_title; }
    const QString &filter() const { return m_filter; }
    QStringList qtFilters() const; // "desc (*.A *.B)" entries

    QString fileName;    // proposed before execute(), the confirmed full path after
    int filterIndex = 0; // 0-based index of the filter choice

    // Shows the dialog; true when the operator confirmed.
    bool execute(QWidget *parent);

    // When set, called instead of showing the dialog: it may change fileName
    // and filterIndex and returns whether the operator confirmed.
    static std::function<bool(FileDialog &)> responder;

private:
    Mode m_mode;
    QString m_title;
    QString m_filter;
};

// Enter as the Enter chains know it: the key that types a carriage return
// (Return or keypad Enter, alone or with Shift). Ctrl+Enter types a line feed
// and Alt+Enter types nothing, so neither counts.
bool isEnterKey(const QKeyEvent *e);

// A database picker: an editable drop-down list whose typed text never becomes
// a new item, showing no item at first. Its items live in a string-list model
// so that a whole catalogue can be set at once.
QComboBox *makeDatabasePicker(QWidget *parent);
// Replaces a picker's items with `names` and leaves its text empty, with no
// item selected.
void setPickerItems(QComboBox *picker, const QStringList &names);

// A one-line text field with a browse button at its right end.
class PathEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit PathEdit(QWidget *parent = nullptr);
    void clickButton() { emit buttonClicked(); }
signals:
    void buttonClicked();
};

} // namespace dv
