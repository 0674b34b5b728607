// record_dictation FOLDER ACCESSION SECONDS: records a dictation of the visit ACCESSION into FOLDER the way the
// viewer does (the real recorder, on the clocked audio double: a ramp of SECONDS seconds, then key 3 to finish),
// so that the transfer client's tests can send a file the viewer really made without linking the viewer.
#include "viewer/dictation/formdictee.h"

#include "common/profilefile.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: record_dictation FOLDER ACCESSION SECONDS\n");
        return 2;
    }
    const QString folder = QDir(args[1]).absolutePath() + QLatin1Char('/');
    const QString accession = args[2];
    const int seconds = args[3].toInt();
    ShellFixture shell;
    shell.Create();
    TFormDictee::ResetOnceMessages();
    const QString ini = folder + QStringLiteral("KorvaneCD.INI");
    {
        common::ProfileFile file(ini);
        file.load();
        file.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
        if (!file.save()) {
            std::fprintf(stderr, "record_dictation: cannot write %s\n", qPrintable(ini));
            return 1;
        }
    }
    auto audio = std::make_shared<platform::ClockedAudioSystem>();
    audio->Generator = [](qint64 n) { return qint16(n % 20000 - 10000); };
    TFormDictee recorder(audio, folder, folder, ini);
    recorder.Create(accession, [](TTemplate6 &) { return int(mrCancel); });
    recorder.Key(0);
    for (int ms = 0; ms < seconds * 1000; ms += 100) {
        audio->Advance(100);
        QCoreApplication::processEvents();
    }
    recorder.Key(3);
    for (int i = 0; i < 50 && recorder.Recording(); ++i) {
        audio->Advance(10);
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const QString path = recorder.DictationFile();
    if (!QFile::exists(path)) {
        std::fprintf(stderr, "record_dictation: no dictation file\n");
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}
