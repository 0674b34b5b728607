// Strandel, the transfer client.

#include "transfer/core/clientform.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Strandel"));

    // French texts for the buttons of Qt's own boxes (Oui, Non, Annuler).
    QTranslator qtFrench;
    if (qtFrench.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtFrench);

    // The program folder is also the working folder: settings, requests,
    // received archives and the viewer's studies all live there.
    const QString folder = QApplication::applicationDirPath();
    QDir::setCurrent(folder);

    strandel::TClientForm form(folder, strandel::CommandLine(QApplication::arguments()));
    if (!form.startUp())
        return 0;
    form.show();
    return app.exec();
}
