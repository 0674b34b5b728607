#pragma once
// The dictation recorder: a hidden window that owns the audio chain of one visit's
// dictation. The main window drives it with the digit keys (0 record / pause, 1 back,
// 2 pause, 3 finish, 4 play again, 8 forward) and shows its state in the dictation
// button's picture (Glyph).
//
// Positions and lengths are bytes of audio data; one second is the file's average bytes
// per second. The file is written while it is captured (WaveFile keeps it valid at every
// buffer); it is tagged when a recording is paused with 0 or finished with 3, and when the
// recorder is closed during a recording.

#include "platform/audio.h"
#include "viewer/dictation/radiologists.h"
#include "viewer/dictation/wavefile.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;


class TFormDictee : public QWidget
{
    Q_OBJECT
public:
    // Button pictures.
    enum Glyph { GlyphNone = 55, GlyphStopped = 56, GlyphRecording = 57, GlyphCreated = 58, GlyphPlaying = 60 };

    static constexpr const char *kReadyPrompt = "RES_PretDicter.wav";
    static constexpr const char *kSavedPrompt = "RES_ExamenSauve.wav";
    static constexpr qint64 kStepBack = platform::PlaybackStream::kBufferSize;

    TFormDictee(std::shared_ptr<platform::AudioSystem> audio, const QString &folder, const QString &promptFolder,
                const QString &radiologistsFile, QWidget *parent = nullptr);
    ~TFormDictee() override;

    // The creation steps: devices, the dictation file of `accession`, the radiologist
    // (through `runner`), the ready prompt.
    void Create(const QString &accession, const dictation::TDialogRunner &runner);

    // A transport key: 0, 1, 2, 3, 4 or 8. Others do nothing.
    void Key(int digit);
    // The digit of a key event of the main keyboard or the numeric pad; -1 for others.
    static int DictationDigit(const QKeyEvent &event);

    // Stops whatever runs, leaving a valid (and, after a recording, tagged) file.
    void Shutdown();

    // Reports to the main window.
    std::function<void(int glyph)> OnGlyph;
    std::function<void(const QString &name)> OnRadiologistShown;
    // Called when the recorder closes itself (after the "saved" prompt).
    std::function<void()> OnCloseRequest;

    // State, for the main window and the tests.
    dictation::TRadiologist Radiologist;
    QString DictationFile() const { return file_; }
    QString Accession() const { return accession_; }
    QString InputDevice() const { return inDevice_; }
    QString OutputDevice() const { return outDevice_; }
    qint64 DictationPosition() const { return playing_ ? PlayPosition() : position_; }
    qint64 DataLength() const { return length_; }
    qint64 BytesPerSecond() const { return bytesPerSecond_; }
    bool Recording() const { return recording_; }
    bool Playing() const { return playing_; }
    bool PlayFromStart() const { return playFromStart_; }
    bool Finishing() const { return finishing_; }
    bool PromptPlaying() const { return prompt_ != nullptr; }
    int CurrentGlyph() const { return glyph_; }
    QString StatusText() const;

    // The accession number made a safe file name: no path separator, "..", ":" or
    // control character can take the file out of its folder.
    static QString SafeFileName(const QString &accession);
    // The missing-prompt and missing-device messages are shown once per run; tests start
    // each case afresh.
    static void ResetOnceMessages();
    // The tags of the dictation as written now.
    dictation::WaveTags Tags() const;

private:
    void SetGlyph(int glyph);
    void SetStatus(const QString &text);
    void Message(const QString &text, bool error = true) const;
    // The dictation file made ready: created empty in the recording format when missing;
    // for playback an existing one must be readable (told when not).
    bool EnsureFile(bool forRecording);
    // The dictation's length and format, read (never written); `tell`: a dictation that
    // cannot be used is told to the user.
    void ReadLength(bool tell);
    // A write of the dictation failed: told once per recording.
    void TellWriteFailure(const QString &error);
    // Closes the file being recorded into, checking the close.
    void CloseWriter();
    void StartRecording();
    // Stops the capture; with `tags` the tags are written.
    void StopCapture(bool tags);
    void CaptureStopped();
    void StartPlayback();
    void StopPlayback();
    void PlaybackStopped();
    // Current play position in the file's data.
    qint64 PlayPosition() const;
    // Replaces a playing stream by one that starts at `position`.
    void RestartPlaybackAt(qint64 position);
    void Track();
    // Plays a prompt file; false when it cannot be played (the message was shown).
    bool PlayPrompt(const char *name);
    void PromptEnded();
    void RequestClose();
    void DropPlaybackStream();

    std::shared_ptr<platform::AudioSystem> audio_;
    QString folder_;
    QString promptFolder_;
    QString radiologistsFile_;
    QString accession_;
    QString file_;
    QString inDevice_;
    QString outDevice_;
    QLabel *status_ = nullptr;

    std::unique_ptr<dictation::WaveFile> writer_;
    std::unique_ptr<platform::CaptureStream> capture_;
    std::unique_ptr<platform::PlaybackStream> playback_;
    std::unique_ptr<platform::PlaybackStream> prompt_;
    QTimer tracking_;

    qint64 position_ = 0;
    qint64 length_ = 0;
    qint64 notedEnd_ = 0;
    qint64 playStart_ = 0;
    qint64 bytesPerSecond_ = 22050;
    int blockAlign_ = 2;
    // Output bytes per file byte of the stream playing (1 when played as it is).
    double playRatio_ = 1.0;
    bool recording_ = false;
    bool playing_ = false;
    bool playFromStart_ = false;
    bool finishing_ = false;
    bool closeRequested_ = false;
    bool writeFailureTold_ = false;
    int glyph_ = GlyphNone;
};
