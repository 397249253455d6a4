#include "application.h"

#include "main/uikit.h"

#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPalette>
#include <QStyleFactory>
#include <QTranslator>

#include <exception>

namespace dv {

Application::Application(int &argc, char **argv) : QApplication(argc, argv) {}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        showErrorDisplay(exceptionText(e));
    } catch (...) {
        showErrorDisplay(QStringLiteral("Unknown exception"));
    }
    return false;
}

QPalette themePalette()
{
    QPalette p;
    const QColor window(0xe9, 0xee, 0xf2);   // light slate
    const QColor base(0xff, 0xff, 0xff);
    const QColor text(0x23, 0x31, 0x3d);     // dark slate
    const QColor button(0xe2, 0xe9, 0xee);
    const QColor highlight(0x2a, 0xa7, 0xb8); // aqua
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0xf3, 0xf7, 0xf9));
    p.setColor(QPalette::ToolTipBase, QColor(0xfd, 0xfe, 0xff));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x99, 0xa6));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, Qt::white);
    p.setColor(QPalette::Midlight, QColor(0xf1, 0xf5, 0xf8));
    p.setColor(QPalette::Mid, QColor(0xb4, 0xc2, 0xcd));
    p.setColor(QPalette::Dark, QColor(0x8f, 0xa1, 0xaf));
    p.setColor(QPalette::Shadow, QColor(0x5d, 0x6f, 0x7d));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x1b, 0x86, 0x96));
    p.setColor(QPalette::LinkVisited, QColor(0x4b, 0x6a, 0x88));
    const QColor disabledText(0x9a, 0xa7, 0xb2);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xf0, 0xf3, 0xf5));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0xa9, 0xc4, 0xcb));
    return p;
}

bool applyTheme(QApplication &app, const QString &resourcePath, const QString &themeName)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString text = QStringLiteral("Style '%1' not found").arg(themeName);
        if (BoxHooks::error) {
            BoxHooks::error(text);
        } else {
            QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kAppTitle), text, QMessageBox::Close);
            box.exec();
        }
        return false;
    }
    const QString sheet = QString::fromUtf8(file.readAll());
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    app.setPalette(themePalette());
    app.setStyleSheet(sheet);
    return true;
}

bool loadQtTranslations(QApplication &app)
{
    auto *tr = new QTranslator(&app);
    if (!tr->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete tr;
        return false;
    }
    app.installTranslator(tr);
    return true;
}

} // namespace dv
