// SCAFFOLD: replaced by the window module's implementation.
#include "uikit.h"
namespace dv {
std::function<void(const QString &)> BoxHooks::message;
std::function<void(const QString &)> BoxHooks::error;
std::function<bool(const QString &)> BoxHooks::confirm;
std::function<bool(FileDialog &)> FileDialog::responder;
void showMessageBox(const QString &) {}
void showErrorDisplay(const QString &) {}
FileDialog::FileDialog(Mode mode, QString title, QString filter) : m_mode(mode), m_title(std::move(title)), m_filter(std::move(filter)) {}
bool FileDialog::execute(QWidget *) { return false; }
PathEdit::PathEdit(QWidget *parent) : QLineEdit(parent) {}
}
