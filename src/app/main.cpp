#include "app/application.h"
#include "client/dbclient.h"
#include "main/tfmain.h"
#include "main/uikit.h"

int main(int argc, char *argv[])
{
    dv::Application app(argc, argv);
    dv::loadQtTranslations(app);
    dv::applyTheme(app);
    app.setApplicationName(QString::fromUtf8(dv::kAppTitle));
    app.setApplicationDisplayName(QString::fromUtf8(dv::kAppTitle));
    TFMAIN FMAIN(dv::makeOdbcConnection());
    FMAIN.showMaximized();
    return app.exec();
}
