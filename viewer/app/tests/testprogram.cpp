// KorvaneCD as the tests that start a program run it: the same start-up and main
// window, with every message box answered through the viewer's dialog function. The
// text goes to standard error, the answer is the first button ("Oui", else OK). Built
// for tests only, never installed.
#include "viewer/shell/messagedialog.h"
#include "viewer/shell/startup.h"
#include "viewer/window/formviewer.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quellarix"));
    QCoreApplication::setApplicationName(QStringLiteral("KorvaneCD"));
    const auto answer = [](const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons) -> int {
        std::fprintf(stderr, "KorvaneCD message (%s): %s\n", qPrintable(TKorvaneMessageBox::Caption(kind)),
                     qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
        if (buttons & mbYes)
            return mrYes;
        return (buttons & mbOK) || buttons == 0 ? mrOk : mrCancel;
    };
    return shell::RunKorvaneCD(
        application,
        [](bool startupFinished) -> QWidget * {
            auto *window = new TFormViewer();
            window->StartupFinished = startupFinished;
            return window;
        },
        answer);
}
