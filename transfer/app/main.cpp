// Strandel, the transfer client.

#include "transfer/core/clientform.h"
#ifdef STRANDEL_WITH_EXCHANGE
#include "transfer/exchange/exchange.h"
#include "transfer/exchange/exchangeforms.h"
#endif

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
#ifdef STRANDEL_WITH_EXCHANGE
    // Download, dictation upload, news, purge, update and shortcuts.
    exchange::installExchange(form);
#endif
    if (!form.startUp())
        return 0;
    form.show();
    return app.exec();
}
