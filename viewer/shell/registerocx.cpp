// Loading the imaging component from the program's own resources.
#include "viewer/shell/templatedm.h"

#include "viewer/shell/componentfile.h"

#include <QDir>
#include <QFile>

namespace {
const char *const kLoadError = "Erreur de chargement DOL! Veuillez contacter Quellarix.";
}

QString TTemplateDM::ComponentFilePath() const
{
    if (componentFile_)
        return componentFile_->Path();
    return TComponentFile::PrivateFolderName(TempFolder) + QStringLiteral("/KORVANECD.OCX");
}

void *TTemplateDM::ComponentLibrary() const
{
    return componentFile_ ? componentFile_->Handle() : nullptr;
}

bool TTemplateDM::RegisterOCX()
{
    ReleaseComponent();
    // The file lies in a folder of the user's own, so that two users of one workstation
    // (or what one left behind) never meet in the shared temporary folder.
    QString folderError;
    const QString folder = TempFolder.isEmpty() ? QString() : TComponentFile::PrivateFolder(TempFolder, &folderError);
    const QString path = (folder.isEmpty() ? TComponentFile::PrivateFolderName(TempFolder) : folder)
                         + QStringLiteral("/KORVANECD.OCX");
    const QString shown = QDir::toNativeSeparators(path);
    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX Begin extraction of ") + shown);

    componentFile_ = std::make_unique<TComponentFile>(path);
    QFile resource(QStringLiteral(":/OCXKORVANECD"));
    QByteArray bytes;
    if (resource.open(QIODevice::ReadOnly))
        bytes = resource.readAll();
    // An unusable temporary folder leaves nowhere to put the file.
    const bool extracted = !folder.isEmpty() && componentFile_->Extract(bytes);
    if (folder.isEmpty() && !folderError.isEmpty())
        qWarning("KorvaneCD: %s", qPrintable(folderError));

    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX End extraction of ") + shown);
    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX Begin of loading library"));
    if (!extracted || !componentFile_->Load()) {
        qWarning("KorvaneCD: the imaging component cannot be loaded from %s: %s", qPrintable(path),
                 qPrintable(componentFile_->ErrorText()));
        componentFile_.reset();
        ShowMessageDialog(QString::fromUtf8(kLoadError), TMsgDlgType::mtError, mbOK);
        return false;
    }
    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX End of loading library"));

    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX Begin of class registration"));
    try {
        for (const char *className : imaging::kComponentClasses)
            classTable_.RegisterClass(componentFile_->Handle(), className);
    } catch (const TComponentError &error) {
        qWarning("KorvaneCD: %s", error.what());
        ReleaseComponent();
        ShowMessageDialog(QString::fromUtf8(kLoadError), TMsgDlgType::mtError, mbOK);
        return false;
    }
    WriteLog(QStringLiteral("TTEMPLATEDM.REGISTEROCX End of class registration"));
    return true;
}
