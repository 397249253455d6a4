#include "main/tfmain.h"
#include "connection/dbclient.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Dorvane1.0.2"));
    TFMAIN FMAIN(dv::makeOdbcConnection());
    FMAIN.showMaximized();
    return app.exec();
}
