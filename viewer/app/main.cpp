// KorvaneCD: the DICOM viewer.
#include "viewer/shell/startup.h"
#include "viewer/window/formviewer.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quellarix"));
    QCoreApplication::setApplicationName(QStringLiteral("KorvaneCD"));
    return shell::RunKorvaneCD(application, [](bool startupFinished) -> QWidget * {
        auto *window = new TFormViewer();
        window->StartupFinished = startupFinished;
        return window;
    });
}
