#include "uikit.h"

#include "client/dbclient.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>

namespace dv {

std::function<void(const QString &)> BoxHooks::message;
std::function<void(const QString &)> BoxHooks::error;
std::function<bool(const QString &)> BoxHooks::confirm;
std::function<bool(FileDialog &)> FileDialog::responder;

namespace {

// Message texts use CR LF line breaks; a label shows a lone CR as a glyph.
QString displayText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void centreOnScreen(QWidget *w)
{
    w->adjustSize();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (QWidget *active = QApplication::activeWindow())
        screen = active->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = w->sizeHint().expandedTo(w->size());
    w->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}

QMessageBox *baseBox(QMessageBox::Icon icon, const QString &text)
{
    auto *box = new QMessageBox(QApplication::activeWindow());
    box->setWindowTitle(QString::fromUtf8(kAppTitle));
    box->setIcon(icon);
    box->setTextFormat(Qt::PlainText);
    box->setText(displayText(text));
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    return box;
}

// "*.TXT" matches "a.txt" too: every letter becomes a [Xx] class, and the
// catch-all "*.*" becomes "*" so that names without a dot are listed as well.
QString caseInsensitivePattern(const QString &pattern)
{
    if (pattern == QLatin1String("*.*"))
        return QStringLiteral("*");
    QString out;
    for (QChar c : pattern) {
        if (c.isLetter() && c.toUpper() != c.toLower()) {
            out += QLatin1Char('[');
            out += c.toUpper();
            out += c.toLower();
            out += QLatin1Char(']');
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString errorDisplayText(const QString &text)
{
    // An empty text has no last character to judge: it stays empty.
    if (text.isEmpty() || text.back().unicode() <= u'.')
        return text;
    return text + QLatin1Char('.');
}

QString exceptionText(const std::exception &e)
{
    if (auto *db = dynamic_cast<const DbError *>(&e))
        return db->message();
    return QString::fromUtf8(e.what());
}

QMessageBox *makeMessageBox(const QString &text)
{
    QMessageBox *box = baseBox(QMessageBox::NoIcon, text);
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    return box;
}

QMessageBox *makeErrorBox(const QString &text)
{
    QMessageBox *box = baseBox(QMessageBox::Critical, errorDisplayText(text));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    return box;
}

void showMessageBox(const QString &text)
{
    if (BoxHooks::message) {
        BoxHooks::message(text);
        return;
    }
    std::unique_ptr<QMessageBox> box(makeMessageBox(text));
    centreOnScreen(box.get());
    box->exec();
}

void showErrorDisplay(const QString &text)
{
    if (BoxHooks::error) {
        BoxHooks::error(errorDisplayText(text));
        return;
    }
    std::unique_ptr<QMessageBox> box(makeErrorBox(text));
    centreOnScreen(box.get());
    box->exec();
}

QMessageBox *makeConfirmBox(const QString &text)
{
    QMessageBox *box = baseBox(QMessageBox::Question, text);
    // Literal captions: the standard buttons would take Qt's Chinese
    // catalogue's "确定" and "取消".
    QPushButton *ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(cancel);
    return box;
}

bool confirmBox(const QString &text)
{
    if (BoxHooks::confirm)
        return BoxHooks::confirm(text);
    std::unique_ptr<QMessageBox> box(makeConfirmBox(text));
    centreOnScreen(box.get());
    box->exec();
    return box->clickedButton() == box->defaultButton();
}

FileDialog::FileDialog(Mode mode, QString title, QString filter)
    : m_mode(mode), m_title(std::move(title)), m_filter(std::move(filter))
{
}

QStringList FileDialog::qtFilters() const
{
    QStringList result;
    const QStringList parts = m_filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << caseInsensitivePattern(p.trimmed());
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return result;
}

bool FileDialog::execute(QWidget *parent)
{
    const QStringList filters = qtFilters();
    if (filterIndex < 0 || filterIndex >= filters.size())
        filterIndex = 0;
    if (responder)
        return responder(*this);

    QFileDialog dlg(parent, m_title);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    // The patterns are spelled as [Xx] classes; the combo shows the descriptions.
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (m_mode == Save) {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
    }
    if (!filters.isEmpty()) {
        dlg.setNameFilters(filters);
        dlg.selectNameFilter(filters.value(filterIndex));
    }
    if (!fileName.isEmpty()) {
        const QFileInfo fi(fileName);
        if (fi.isAbsolute() || fileName.contains(QLatin1Char('/')))
            dlg.setDirectory(fi.absolutePath());
        dlg.selectFile(fi.fileName());
    }
    if (dlg.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dlg.selectedFiles();
    if (chosen.isEmpty())
        return false;
    fileName = chosen.first();
    // With the details hidden the dialog reports the description only.
    const QString chosenFilter = dlg.selectedNameFilter();
    for (int i = 0; i < filters.size(); ++i) {
        if (filters[i] == chosenFilter || filters[i].startsWith(chosenFilter + QLatin1String(" ("))) {
            filterIndex = i;
            break;
        }
    }
    return true;
}

PathEdit::PathEdit(QWidget *parent) : QLineEdit(parent)
{
    // The browse button: an ellipsis drawn into the field's right end.
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3a, 0x5a, 0x78));
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(4.5 + i * 5.5, 13.0), 1.7, 1.7);
    }
    QAction *browse = addAction(QIcon(pm), QLineEdit::TrailingPosition);
    browse->setToolTip(QStringLiteral("…"));
    browse->setObjectName(QStringLiteral("browse"));
    connect(browse, &QAction::triggered, this, &PathEdit::buttonClicked);
}

bool isEnterKey(const QKeyEvent *e)
{
    return (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
           && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

QComboBox *makeDatabasePicker(QWidget *parent)
{
    auto *cb = new QComboBox(parent);
    cb->setEditable(true);
    cb->setInsertPolicy(QComboBox::NoInsert);
    cb->setModel(new QStringListModel(cb));
    cb->setCurrentIndex(-1);
    return cb;
}

void setPickerItems(QComboBox *picker, const QStringList &names)
{
    // One model reset instead of an insertion per name: tens of thousands of
    // databases fill the four pickers at once.
    auto *model = qobject_cast<QStringListModel *>(picker->model());
    if (model) {
        model->setStringList(names);
    } else {
        picker->clear();
        picker->addItems(names);
    }
    picker->setCurrentIndex(-1);
    picker->clearEditText();
}

} // namespace dv
