#include "viewer/dictation/radiologists.h"

#include "common/profilefile.h"
#include "platform/cddrives.h"
#include "viewer/dictation/formdicteeradiologiste.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace dictation {

TRadiologist SplitRadiologist(const QString &name, const QString &value)
{
    const QString v = value.trimmed();
    const qsizetype blank = v.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {name, v, QString()};
    return {name, v.left(blank), v.mid(blank + 1).trimmed()};
}

QString RadiologistValue(const QString &licence, const QString &group)
{
    return (licence.trimmed() + QLatin1Char(' ') + group.trimmed()).trimmed();
}

QString RadiologistsFilePath(const QString &folder, const QString &executablePath)
{
    return folder + QFileInfo(executablePath).completeBaseName() + QStringLiteral(".INI");
}

QStringList RadiologistNames(const QString &iniPath)
{
    common::ProfileFile file(iniPath);
    if (!file.load())
        return {};
    return file.keys(QLatin1String(kRadiologistsSection));
}

TRadiologist ReadRadiologist(const QString &iniPath, const QString &name)
{
    common::ProfileFile file(iniPath);
    if (!file.load() || !file.contains(QLatin1String(kRadiologistsSection), name))
        return {};
    return SplitRadiologist(name, file.readString(QLatin1String(kRadiologistsSection), name));
}

bool FolderWritable(const QString &folder)
{
    if (!QFileInfo(folder).isDir() || platform::FolderIsOnCdRom(folder))
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".korvane-XXXXXX")));
    return probe.open();
}

QString FallbackWorkFolder()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    return QDir(documents).filePath(QStringLiteral("KorvaneCD")) + QLatin1Char('/');
}

QString WorkFolder(const QString &programFolder, bool *fallback)
{
    const bool useProgram = FolderWritable(programFolder);
    if (fallback)
        *fallback = !useProgram;
    if (useProgram)
        return programFolder;
    const QString folder = FallbackWorkFolder();
    QDir().mkpath(folder);
    return folder;
}

int RunDialog(const TDialogRunner &runner, TTemplate6 &dialog)
{
    return runner ? runner(dialog) : dialog.ShowModal();
}

TRadiologist ChooseRadiologist(const QString &iniPath, const TDialogRunner &runner)
{
    const QStringList names = RadiologistNames(iniPath);
    if (names.isEmpty())
        return AddRadiologistDialog(iniPath, runner);
    if (names.size() == 1)
        return ReadRadiologist(iniPath, names.first());
    TFormDicteeConfirmerRadiologiste dialog(QLatin1String(kRadiologistsSection), iniPath);
    if (RunDialog(runner, dialog) != mrOk)
        return {};
    return dialog.Result;
}

TRadiologist AddRadiologistDialog(const QString &iniPath, const TDialogRunner &runner)
{
    TFormDicteeAjouterRadiologiste dialog(QLatin1String(kRadiologistsSection), iniPath);
    if (RunDialog(runner, dialog) != mrOk)
        return {};
    return dialog.Result;
}

} // namespace dictation
