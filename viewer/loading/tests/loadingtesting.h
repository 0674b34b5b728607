#pragma once
// Helpers of the loading tests: synthetic visits copied and altered in a temporary
// folder, a data module whose program folder is that folder, and an observer that
// records what a load reports.

#include "imaging/imaging.h"
#include "platform/screeninfo.h"
#include "platform/settingsscope.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/templatedm.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace loadingtest {

inline QString TestVisit(const char *preset)
{
    return QStringLiteral(KORVANE_TESTDATA_DIR "/") + QLatin1String(preset);
}

// Copies a folder tree; `rename` may change each file or folder name on the way.
inline bool CopyTree(const QString &from, const QString &to,
                     const std::function<QString(const QString &)> &rename = {})
{
    QDir().mkpath(to);
    const QDir source(from);
    for (const QFileInfo &entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString name = rename ? rename(entry.fileName()) : entry.fileName();
        const QString target = QDir(to).filePath(name);
        if (entry.isDir()) {
            if (!CopyTree(entry.filePath(), target, rename))
                return false;
        } else if (!QFile::copy(entry.filePath(), target)) {
            return false;
        }
    }
    return true;
}

// Runs the visit generator; true when it succeeded.
inline bool Generate(const QString &out, const QString &preset, int images = -1)
{
    QStringList args{QStringLiteral("--out"), out, QStringLiteral("--preset"), preset};
    if (images > 0)
        args << QStringLiteral("--images") << QString::number(images);
    QProcess process;
    process.start(QStringLiteral(KORVANE_LOADING_STUDYGEN), args);
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

// Runs a DICOM tool (dcmodify ...) from the dcmtk package.
inline bool Tool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Replaces the first occurrence of `from` by `to` (same length) in a file.
inline bool PatchBytes(const QString &path, const QByteArray &from, const QByteArray &to)
{
    if (from.size() != to.size())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    const int at = bytes.indexOf(from);
    if (at < 0)
        return false;
    bytes.replace(at, from.size(), to);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

// Turns a copy of the demo visit into kept visits as the transfer client leaves them:
// one catalogue "DICOMDIR." + name per received study (made with dcmmkdir over that
// study's folder), the image folders side by side under "DICOM", and the markers of the
// last unpacking ("ftp.ok", "FichierZip<name>.ok" naming the visit on its third line).
inline bool KeepVisits(const QString &folder, const QList<QPair<QString, QString>> &visits)
{
    if (!QFile::remove(folder + "/DICOMDIR"))
        return false;
    for (const auto &[name, study] : visits) {
        if (!Tool("dcmmkdir", {"+D", folder + "/DICOMDIR." + name, "+id", folder, "+r", "+I", study}))
            return false;
    }
    QFile ok(folder + "/ftp.ok");
    if (!ok.open(QIODevice::WriteOnly))
        return false;
    ok.close();
    QFile marker(folder + "/FichierZip" + visits.last().first + ".ok");
    if (!marker.open(QIODevice::WriteOnly))
        return false;
    return marker.write("CLINIQUE\r\n2026-11-09\r\n" + visits.last().first.toLatin1() + "\r\n") > 0;
}

inline int FilesUnder(const QString &path)
{
    int count = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

inline imaging::DicomImagePtr ReadImage(const QString &path)
{
    return loading::NewImages()->ReadFile(path);
}

// Records what a load reports (run on the calling thread).
struct RecordingObserver : loading::LoadObserver
{
    QStringList log;
    int handOvers = 0;
    int imagesAtHandOver = -1;
    int seriesAtHandOver = -1;
    int imagesRead = 0;
    VisitContent *content = nullptr;
    std::function<bool()> stop;

    bool StopRequested() override { return stop && stop(); }
    void ImageRead(int, int) override { ++imagesRead; }
    void HandOver() override
    {
        ++handOvers;
        if (content) {
            imagesAtHandOver = content->Images()->Count();
            seriesAtHandOver = content->SeriesCount();
        }
    }
    void Log(const QString &text) override { log << text; }
};

// Loads `patientId` (or, with an empty one, `studyUid`) of `folder`/`catalogue`.
inline loading::LoadOutcome Load(VisitContent &content, RecordingObserver &observer, const QString &folder,
                                 const QString &patientId, const QString &catalogue = QStringLiteral("DICOMDIR"),
                                 const QString &studyUid = QString(), bool demo = false)
{
    loading::LoadRequest request;
    request.programFolder = folder;
    request.catalogue = catalogue;
    request.patientId = patientId;
    request.studyUid = studyUid;
    request.demo = demo;
    observer.content = &content;
    return loading::RunVisitLoad(request, content, observer);
}

// A data module whose program folder is `folder` (the executable lies there), with
// recorded message boxes.
struct RecordedMessage
{
    QString text;
    TMsgDlgType kind;
    TMsgDlgButtons buttons;
};

class DataModule
{
public:
    explicit DataModule(const QString &programFolder, QStringList arguments = {})
    {
        TShellServices services;
        services.Machine = std::make_shared<platform::QtSettingsScope>(settings.filePath("machine.conf"));
        services.User = std::make_shared<platform::QtSettingsScope>(settings.filePath("user.conf"));
        services.Screens = std::make_shared<platform::FixedScreenInfo>(1, QSize(1280, 1024), 40);
        services.LogFolder = settings.filePath("log");
        services.TempVariable = settings.path();
        services.Arguments = arguments;
        services.ExecutablePath = QDir(programFolder).filePath(QStringLiteral("KorvaneCD"));
        dm = std::make_unique<TTemplateDM>(services, [this](const QString &text, TMsgDlgType kind,
                                                            TMsgDlgButtons buttons) {
            messages.push_back({text, kind, buttons});
            if (onMessage)
                onMessage(text);
            if (buttons & mbYes)
                return int(yesNoAnswer);
            return int(mrOk);
        });
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto &m : messages)
            texts << m.text;
        return texts;
    }

    QTemporaryDir settings;
    std::vector<RecordedMessage> messages;
    std::function<void(const QString &)> onMessage;
    // The answer to a Yes/No question: No unless a test says otherwise.
    TModalResult yesNoAnswer = mrNo;
    std::unique_ptr<TTemplateDM> dm;
};

// Label 7's text of an entry.
inline QString TopLeft(const imaging::DicomImage &image)
{
    const auto label = image.Labels()->Item(7);
    return label ? label->Text() : QString();
}

inline QString Label(const imaging::DicomImage &image, int n)
{
    const auto label = image.Labels()->Item(n);
    return label ? label->Text() : QString();
}

} // namespace loadingtest
