#include "viewer/dictation/dictationcontrol.h"

#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>

using namespace dictation;

TDictationControl::TDictationControl(QWidget *mainWindow, QAction *button,
                                     std::function<void(int, const QString &)> status)
    : QObject(mainWindow), mainWindow_(mainWindow), button_(button), status_(std::move(status))
{
    SetGlyph(TFormDictee::GlyphNone);
}

TDictationControl::~TDictationControl() { DestroyRecorder(); }

void TDictationControl::SetGlyph(int glyph)
{
    glyph_ = glyph;
    if (!button_)
        return;
    const QString path = QStringLiteral(":/toolbar/TBPellux%1.png").arg(glyph);
    button_->setIcon(QIcon(QFile::exists(path) ? path : QStringLiteral(":/toolbar/TBPellux.png")));
}

void TDictationControl::ToggleDictation()
{
    if (recorder_) {
        DestroyRecorder();
        SetGlyph(TFormDictee::GlyphNone);
        return;
    }
    CreateRecorder(TFormDictee::GlyphCreated);
}

void TDictationControl::AddRadiologist()
{
    if (!recorder_)
        CreateRecorder(TFormDictee::GlyphStopped);
    if (!recorder_)
        return;
    recorder_->Radiologist = AddRadiologistDialog(radiologistsFile_, RunDialog);
}

void TDictationControl::CreateRecorder(int glyph)
{
    TTemplateDM *dm = TemplateDMIfAny();
    const QString programFolder = !ProgramFolder.isEmpty() ? ProgramFolder : dm ? dm->ProgramFolder : QString();
    const QString executable = !ExecutablePath.isEmpty() ? ExecutablePath : QCoreApplication::applicationFilePath();
    bool fallback = false;
    workFolder_ = dictation::WorkFolder(programFolder, &fallback);
    radiologistsFile_ = RadiologistsFilePath(workFolder_, executable);
    if (fallback) {
        // A list that came with the program (on the CD) is the starting point of the
        // user's own copy.
        const QString shipped = RadiologistsFilePath(programFolder, executable);
        if (!QFile::exists(radiologistsFile_) && QFile::exists(shipped))
            QFile::copy(shipped, radiologistsFile_);
        if (dm)
            dm->ShowMessageDialog(QStringLiteral("Le dossier du programme ne peut pas être modifié : la dictée et la "
                                                 "liste des radiologistes seront enregistrées dans %1")
                                      .arg(workFolder_),
                                  TMsgDlgType::mtInformation, mbOK);
    }
    QString accession;
    const auto images = VisitData().VisitImages();
    if (images && images->Count() >= 1)
        accession = loading::AttributeText(*images->Item(1)->Attributes(), 0x0008, 0x0050);

    SetGlyph(glyph);
    auto *recorder = new TFormDictee(Audio ? Audio : std::make_shared<platform::QtAudioSystem>(), workFolder_,
                                     programFolder, radiologistsFile_, nullptr);
    recorder_ = recorder;
    recorder->OnGlyph = [this](int g) { SetGlyph(g); };
    recorder->OnRadiologistShown = [this](const QString &name) {
        if (status_)
            status_(3, name);
    };
    recorder->OnCloseRequest = [] {
        if (TTemplateDM *module = TemplateDMIfAny())
            module->PostRegisteredMessage(QStringLiteral("WM_CLOSEFORMDICTEE"));
    };
    recorder->Create(accession, RunDialog);
}

void TDictationControl::DestroyRecorder()
{
    if (TFormDictee *recorder = recorder_.data()) {
        recorder_ = nullptr;
        recorder->Shutdown();
        recorder->OnGlyph = nullptr;
        recorder->OnCloseRequest = nullptr;
        delete recorder;
    }
}

void TDictationControl::RecorderClosed()
{
    DestroyRecorder();
    SetGlyph(TFormDictee::GlyphNone);
}

bool TDictationControl::KeyEvent(QObject *receiver, QEvent *event)
{
    if (!recorder_ || event->type() != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(receiver);
    // Keys typed in the main window (or a window it owns); a dialog keeps its keys.
    if (!widget || widget->window() != mainWindow_ || QApplication::activeModalWidget())
        return false;
    const int digit = TFormDictee::DictationDigit(*static_cast<QKeyEvent *>(event));
    if (digit < 0)
        return false;
    recorder_->Key(digit);
    return true;
}
