// Records what the window would show in its boxes instead of showing them:
// the message boxes, the error display and, when asked for, the confirmation
// boxes with a set answer. The hooks it replaces are put back on destruction.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace dvtest {

class BoxCapture {
public:
    // Message boxes and the error display; a confirmation box is shown as usual.
    BoxCapture();
    // Also the confirmation boxes, answered with `confirmAnswer` (true = OK).
    explicit BoxCapture(bool confirmAnswer);
    ~BoxCapture();
    BoxCapture(const BoxCapture &) = delete;
    BoxCapture &operator=(const BoxCapture &) = delete;

    // Forgets what was recorded.
    void clear();

    QStringList messages;  // message box texts
    QStringList errors;    // error display texts, as displayed
    QStringList confirms;  // confirmation box texts
    bool confirmAnswer = false;

private:
    std::function<void(const QString &)> m_message, m_error;
    std::function<bool(const QString &)> m_confirm;
};

} // namespace dvtest
