#pragma once
// The main window's side of the dictation: the dictation button (its click creates or
// closes the hidden recorder, its picture shows the recorder's state), "Ajouter un
// radiologiste" of its menu, the digit keys passed to the recorder while it exists, the
// radiologist's name in the status bar, and the recorder's closing message.

#include "viewer/dictation/formdictee.h"

#include <QObject>
#include <QPointer>

class QAction;
class QEvent;

class TDictationControl : public QObject
{
    Q_OBJECT
public:
    // `button` is TBPellux; `status` shows a text in a status panel of the main window.
    TDictationControl(QWidget *mainWindow, QAction *button, std::function<void(int, const QString &)> status);
    ~TDictationControl() override;

    // TBPellux's click.
    void ToggleDictation();
    // "Ajouter un radiologiste".
    void AddRadiologist();
    // "WM_CLOSEFORMDICTEE": frees the recorder; the button shows no recorder.
    void RecorderClosed();
    // The digit keys typed in the main window while a recorder exists; true when taken.
    bool KeyEvent(QObject *receiver, QEvent *event);

    TFormDictee *Recorder() const { return recorder_.data(); }
    int Glyph() const { return glyph_; }
    void SetGlyph(int glyph);

    // Replaceable services (tests): the audio system (Qt Multimedia when null), the
    // dialog runner, the program folder and the executable (the data module's when empty).
    std::shared_ptr<platform::AudioSystem> Audio;
    dictation::TDialogRunner RunDialog;
    QString ProgramFolder;
    QString ExecutablePath;
    // The folder the dictation and the radiologist list are written to; chosen at each
    // creation of the recorder.
    QString WorkFolder() const { return workFolder_; }
    QString RadiologistsFile() const { return radiologistsFile_; }

private:
    void CreateRecorder(int glyph);
    void DestroyRecorder();

    QWidget *mainWindow_;
    QAction *button_;
    std::function<void(int, const QString &)> status_;
    QPointer<TFormDictee> recorder_;
    QString workFolder_;
    QString radiologistsFile_;
    int glyph_ = TFormDictee::GlyphNone;
};
