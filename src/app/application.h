// The application object, the visual theme and the Chinese translations of
// Qt's own texts.
#pragma once

#include <QApplication>
#include <QString>

namespace dv {

inline constexpr const char *kThemeName = "Aqua Light Slate";
inline constexpr const char *kThemeResource = ":/themes/aqua-light-slate.qss";

// The last resort: an exception that escapes an event handler is shown
// through the default error display and the program goes on with the next
// event. Handlers catch their own errors; this only keeps an overlooked one
// from ending the program.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Applies the theme packaged at `resourcePath` (style sheet over Fusion with
// its own palette). When the resource is missing, shows the error box
// "Style '<name>' not found" and leaves the platform look; returns false then.
bool applyTheme(QApplication &app, const QString &resourcePath = QString::fromLatin1(kThemeResource),
                const QString &themeName = QString::fromLatin1(kThemeName));

// The palette that goes with the theme's style sheet.
QPalette themePalette();

// Loads qtbase_zh_CN so that Qt's standard buttons and dialogs read Chinese.
// Returns whether the catalogue was found.
bool loadQtTranslations(QApplication &app);

} // namespace dv
