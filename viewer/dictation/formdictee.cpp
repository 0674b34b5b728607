#include "viewer/dictation/formdictee.h"

#include "common/regularfile.h"
#include "viewer/dictation/pcmconvert.h"
#include "viewer/shell/templatedm.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

using namespace dictation;

namespace {

// A missing prompt or a missing audio device is told once per run, not at every
// creation of the recorder.
bool g_promptMessageShown = false;
bool g_deviceMessageShown = false;

} // namespace

void TFormDictee::ResetOnceMessages()
{
    g_promptMessageShown = false;
    g_deviceMessageShown = false;
}

TFormDictee::TFormDictee(std::shared_ptr<platform::AudioSystem> audio, const QString &folder,
                         const QString &promptFolder, const QString &radiologistsFile, QWidget *parent)
    : QWidget(parent, Qt::Window), audio_(std::move(audio)), folder_(folder), promptFolder_(promptFolder),
      radiologistsFile_(radiologistsFile)
{
    setObjectName(QStringLiteral("FormDictee"));
    setWindowTitle(QStringLiteral("Dictée"));
    auto *layout = new QVBoxLayout(this);
    // The recorder's 24-character display (the window stays hidden).
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LabelStatus"));
    status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance(QString(24, QLatin1Char('M'))));
    layout->addWidget(status_);
    tracking_.setInterval(10);
    connect(&tracking_, &QTimer::timeout, this, [this] { Track(); });
}

TFormDictee::~TFormDictee() { Shutdown(); }

QString TFormDictee::SafeFileName(const QString &accession)
{
    QString name;
    for (QChar c : accession.trimmed()) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.category() == QChar::Other_Control
            || c == QChar(0x7F))
            name += QLatin1Char('_');
        else
            name += c;
    }
    while (name.contains(QStringLiteral("..")))
        name.replace(QStringLiteral(".."), QStringLiteral("__"));
    // A name of dots alone, or none, would be the folder itself or a hidden file.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return name;
}

WaveTags TFormDictee::Tags() const
{
    WaveTags t;
    t.Archive = QStringLiteral("HOP. TREMBLEVAUX");
    t.Engineer = Radiologist.Licence;
    t.Name = accession_;
    t.Software = QStringLiteral("KorvaneCD");
    t.Source = Radiologist.Group;
    t.Comment = QString();
    t.Genre = QStringLiteral("Dictée");
    return t;
}

void TFormDictee::Message(const QString &text, bool error) const
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->ShowMessageDialog(text, error ? TMsgDlgType::mtError : TMsgDlgType::mtWarning, mbOK);
}

void TFormDictee::SetGlyph(int glyph)
{
    glyph_ = glyph;
    if (OnGlyph)
        OnGlyph(glyph);
}

void TFormDictee::SetStatus(const QString &text) { status_->setText(text); }

QString TFormDictee::StatusText() const { return status_->text(); }

int TFormDictee::DictationDigit(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return -1;
    int digit = -1;
    // The number row gives its digit whatever the layout and the shift state (unshifted,
    // a French keyboard types "à&é\"'(-è_ç" there): on X11 the row's key codes are 10
    // ("1") to 19 ("0"). Otherwise, and for the numeric pad, the key's own digit.
    const quint32 scan = event.nativeScanCode();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && scan >= 10 && scan <= 19
        && !(event.modifiers() & Qt::KeypadModifier))
        digit = scan == 19 ? 0 : int(scan) - 9;
    else if (event.key() >= Qt::Key_0 && event.key() <= Qt::Key_9)
        digit = event.key() - Qt::Key_0;
    switch (digit) {
    case 0: case 1: case 2: case 3: case 4: case 8: return digit;
    default: return -1;
    }
}

// ---------------------------------------------------------------------------------------
// Creation

void TFormDictee::Create(const QString &accession, const TDialogRunner &runner)
{
    // 1. The devices: the last of each list, else the default (empty name).
    const QStringList inputs = audio_->InputDevices();
    const QStringList outputs = audio_->OutputDevices();
    inDevice_ = inputs.isEmpty() ? QString() : inputs.last();
    outDevice_ = outputs.isEmpty() ? QString() : outputs.last();
    if (inputs.isEmpty() && outputs.isEmpty() && !g_deviceMessageShown) {
        g_deviceMessageShown = true;
        Message(QStringLiteral("Aucun périphérique audio n'a été trouvé : la dictée utilisera le périphérique par "
                               "défaut du système, s'il en existe un."),
                false);
    }
    // 2. The dictation file.
    accession_ = accession;
    file_ = folder_ + common::FitFileName(SafeFileName(accession), QStringLiteral(".wav"), common::MaxFileNameBytes(folder_));
    ReadLength(true);
    // 3. The radiologist.
    Radiologist = ChooseRadiologist(radiologistsFile_, runner);
    // 4. The ready prompt; the button shows the stopped picture once it is over.
    if (!PlayPrompt(kReadyPrompt))
        SetGlyph(GlyphStopped);
}

void TFormDictee::ReadLength(bool tell)
{
    // Read only: a dictation the recorder cannot use is left as it is.
    WaveFile reader;
    const bool there = QFileInfo(file_).exists() || QFileInfo(file_).isSymLink();
    if (there && reader.OpenRead(file_)) {
        length_ = reader.DataLength();
        bytesPerSecond_ = reader.Format().AvgBytesPerSec;
        blockAlign_ = std::max<int>(1, reader.Format().BlockAlign);
    } else if (there) {
        length_ = 0;
        if (tell)
            Message(QStringLiteral("La dictée %1 ne peut être ni écoutée ni complétée :\r%2\rElle est conservée telle "
                                   "quelle.")
                        .arg(file_, reader.ErrorString()));
    } else {
        length_ = 0;
        bytesPerSecond_ = WaveFormat::Recording().AvgBytesPerSec;
        blockAlign_ = WaveFormat::Recording().BlockAlign;
    }
    position_ = std::clamp<qint64>(position_, 0, length_);
}

bool TFormDictee::EnsureFile(bool forRecording)
{
    if (QFileInfo(file_).exists() || QFileInfo(file_).isSymLink()) {
        // Opening it for appending says why it cannot be continued, if it cannot.
        if (forRecording)
            return true;
        WaveFile probe;
        if (!probe.OpenRead(file_)) {
            Message(QStringLiteral("La dictée %1 ne peut pas être lue :\r%2\rElle est conservée telle quelle.")
                        .arg(file_, probe.ErrorString()));
            return false;
        }
        return true;
    }
    WaveFile created;
    if (!created.Create(file_, WaveFormat::Recording())) {
        Message(QStringLiteral("La dictée ne peut pas être enregistrée dans %1 :\r%2").arg(file_, created.ErrorString()));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Keys

void TFormDictee::Key(int digit)
{
    switch (digit) {
    case 0: // "Dictée / Pause"
        if (Radiologist.Name.isEmpty() || Radiologist.Licence.isEmpty())
            return;
        if (OnRadiologistShown)
            OnRadiologistShown(Radiologist.Name);
        if (recording_) {
            StopCapture(true);
            SetGlyph(GlyphStopped);
            playFromStart_ = true;
        } else {
            StartRecording();
        }
        return;
    case 1: // "Reculer"
        if (playing_)
            RestartPlaybackAt(std::max<qint64>(0, PlayPosition() - bytesPerSecond_));
        else if (!recording_)
            position_ = 0;
        return;
    case 8: // "Avancer"
        if (playing_)
            RestartPlaybackAt(std::min(length_, PlayPosition() + bytesPerSecond_));
        else if (!recording_)
            position_ = length_;
        return;
    case 2: // "Pause en écoute"
        if (playing_) {
            StopPlayback();
            SetGlyph(GlyphStopped);
        } else if (recording_) {
            StopCapture(false);
            SetGlyph(GlyphStopped);
        } else {
            StartPlayback();
        }
        return;
    case 4: // "Réécouter"
        if (recording_)
            return; // the file is being written
        if (playing_) {
            RestartPlaybackAt(0);
            return;
        }
        playFromStart_ = true;
        StartPlayback();
        return;
    case 3: // "Terminer la dictée"
        if (recording_) {
            StopCapture(true);
            SetGlyph(GlyphNone);
            finishing_ = true;
            if (!PlayPrompt(kSavedPrompt))
                RequestClose();
        } else if (playing_) {
            StopPlayback();
        }
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------------------------------
// Recording

void TFormDictee::StartRecording()
{
    if (playing_) {
        StopPlayback();
        PlaybackStopped();
    }
    if (capture_)
        CaptureStopped(); // the last capture's end has not been reported yet
    if (!EnsureFile(true))
        return;
    auto writer = std::make_unique<WaveFile>();
    if (!writer->OpenAppend(file_)) {
        Message(QStringLiteral("La dictée %1 ne peut pas être complétée :\r%2\rElle est conservée telle quelle.")
                    .arg(file_, writer->ErrorString()));
        return;
    }
    QString error;
    auto capture = audio_->OpenCapture(inDevice_, ToAudioFormat(writer->Format()), &error);
    if (!capture) {
        Message(QStringLiteral("L'enregistrement ne peut pas commencer :\r%1").arg(error));
        return;
    }
    writer_ = std::move(writer);
    capture_ = std::move(capture);
    bytesPerSecond_ = writer_->Format().AvgBytesPerSec;
    blockAlign_ = std::max<int>(1, writer_->Format().BlockAlign);
    notedEnd_ = writer_->DataLength();
    length_ = notedEnd_;
    platform::CaptureStream *stream = capture_.get();
    writeFailureTold_ = false;
    connect(stream, &platform::CaptureStream::dataReady, this, [this, stream](const QByteArray &buffer) {
        // After a failed write nothing more is taken: the capture is being stopped.
        if (stream != capture_.get() || !writer_ || writer_->Failed())
            return;
        if (!writer_->Append(buffer)) {
            const QString error = writer_->ErrorString();
            // The capture stops; what reached the disk keeps its tags.
            StopCapture(true);
            SetGlyph(GlyphStopped);
            // Told once the stream has finished handing over its data: the message box runs
            // an event loop, in which the stopped stream is deleted, and the stream must not
            // be in the middle of a delivery then.
            QMetaObject::invokeMethod(this, [this, error] { TellWriteFailure(error); }, Qt::QueuedConnection);
        }
    });
    connect(stream, &platform::CaptureStream::started, this, [this, stream] {
        if (stream != capture_.get())
            return;
        tracking_.start();
        SetStatus(QStringLiteral("ENREGISTREMENT EN COURS..."));
    });
    connect(stream, &platform::CaptureStream::stopped, this, [this, stream] {
        if (stream == capture_.get())
            CaptureStopped();
    });
    if (!capture_->Start()) {
        Message(QStringLiteral("L'enregistrement ne peut pas commencer :\r%1").arg(capture_->errorString()));
        capture_.reset();
        writer_.reset();
        return;
    }
    // Set at once, so that a key pressed before the device confirms acts on the recording.
    recording_ = true;
    SetGlyph(GlyphRecording);
}

void TFormDictee::StopCapture(bool tags)
{
    if (!recording_)
        return;
    recording_ = false;
    if (capture_)
        capture_->Stop(); // hands over its last data before returning
    if (writer_) {
        if (!writer_->Failed() && !writer_->UpdateHeader())
            TellWriteFailure(writer_->ErrorString());
        if (tags && !writer_->WriteTags(Tags()) && !writer_->Failed())
            Message(QStringLiteral("Les informations de la dictée %1 n'ont pas pu être écrites :\r%2")
                        .arg(file_, writer_->ErrorString()));
    }
    SetStatus(QStringLiteral("MODE ENREGISTREMENT"));
}

void TFormDictee::TellWriteFailure(const QString &error)
{
    if (writeFailureTold_)
        return;
    writeFailureTold_ = true;
    Message(QStringLiteral("L'écriture de la dictée %1 a échoué ; ce qui précède est conservé :\r%2").arg(file_, error));
}

void TFormDictee::CloseWriter()
{
    if (!writer_)
        return;
    // The header, the data's synchronisation to the disk and the close are checked too.
    const bool failedBefore = writer_->Failed();
    if (!writer_->Close() && !failedBefore)
        TellWriteFailure(writer_->ErrorString());
    writer_.reset();
}

void TFormDictee::CaptureStopped()
{
    tracking_.stop();
    recording_ = false;
    const qint64 captured = capture_ ? capture_->BytesCaptured() : 0;
    if (capture_) {
        capture_->disconnect(this);
        capture_.release()->deleteLater();
    }
    CloseWriter();
    ReadLength(false);
    position_ = std::min(notedEnd_ + captured, length_);
}

// ---------------------------------------------------------------------------------------
// Playback

qint64 TFormDictee::PlayPosition() const
{
    if (!playback_)
        return position_;
    qint64 bytes = qint64(double(playback_->BytesPlayed()) / playRatio_);
    bytes -= bytes % blockAlign_;
    return std::min(length_, playStart_ + bytes);
}

void TFormDictee::StartPlayback()
{
    if (recording_)
        return;
    if (capture_)
        CaptureStopped();
    if (!EnsureFile(false))
        return;
    WaveFile reader;
    if (!reader.OpenRead(file_)) {
        Message(QStringLiteral("La dictée %1 ne peut pas être lue :\r%2").arg(file_, reader.ErrorString()));
        return;
    }
    length_ = reader.DataLength();
    bytesPerSecond_ = reader.Format().AvgBytesPerSec;
    blockAlign_ = std::max<int>(1, reader.Format().BlockAlign);
    if (length_ == 0)
        return; // nothing to play
    if (position_ >= length_ || playFromStart_) {
        position_ = 0;
        playFromStart_ = false;
    }
    position_ -= position_ % blockAlign_;
    reader.Seek(position_);
    const QByteArray data = reader.Read(length_ - position_);
    const WaveFormat format = reader.Format();
    platform::AudioFormat out = ToAudioFormat(format);
    QByteArray pcm = data;
    const bool asIs = (format.BitsPerSample == 8 || format.BitsPerSample == 16) && format.IsPcm()
                      && audio_->OutputSupports(outDevice_, out);
    if (!asIs) {
        out = audio_->OutputPreferred(outDevice_);
        pcm = ConvertPcm(data, format, out);
        if (pcm.isEmpty())
            return;
    }
    // Errors of the audio layer while playing are ignored: the picture stays as it is.
    QString error;
    auto stream = audio_->OpenPlayback(outDevice_, out, &error);
    if (!stream)
        return;
    playRatio_ = double(pcm.size()) / double(std::max<qsizetype>(1, data.size()));
    playStart_ = position_;
    playback_ = std::move(stream);
    platform::PlaybackStream *s = playback_.get();
    connect(s, &platform::PlaybackStream::stopped, this, [this, s] {
        if (s == playback_.get())
            PlaybackStopped();
    });
    playing_ = true;
    SetGlyph(GlyphPlaying);
    SetStatus(QStringLiteral("ECOUTE EN COURS..."));
    if (!playback_->Start(pcm))
        return;
    tracking_.start();
}

void TFormDictee::StopPlayback()
{
    if (playback_)
        playback_->Stop();
}

void TFormDictee::PlaybackStopped()
{
    tracking_.stop();
    const qint64 at = PlayPosition();
    // Short of the end: back by what the output still held, so that it is heard again.
    position_ = at < length_ ? std::max<qint64>(0, at - kStepBack) : length_;
    DropPlaybackStream();
    playing_ = false;
    SetStatus(QStringLiteral("ECOUTE EN COURS..."));
    if (finishing_) {
        RequestClose();
        return;
    }
    SetGlyph(GlyphStopped);
}

void TFormDictee::DropPlaybackStream()
{
    if (playback_) {
        playback_->disconnect(this);
        playback_->Stop();
        playback_.release()->deleteLater();
    }
}

void TFormDictee::RestartPlaybackAt(qint64 position)
{
    DropPlaybackStream();
    playing_ = false;
    position_ = position;
    playFromStart_ = false;
    if (position_ >= length_) {
        // Forward past the end: the playback ends there.
        position_ = length_;
        tracking_.stop();
        SetGlyph(GlyphStopped);
        return;
    }
    StartPlayback();
}

void TFormDictee::Track()
{
    if (recording_ && writer_)
        length_ = writer_->DataLength();
    else if (playing_)
        position_ = PlayPosition();
}

// ---------------------------------------------------------------------------------------
// Prompts and closing

bool TFormDictee::PlayPrompt(const char *name)
{
    const QString path = promptFolder_ + QLatin1String(name);
    WaveFile reader;
    if (!QFileInfo::exists(path) || !reader.OpenRead(path)) {
        if (!g_promptMessageShown) {
            g_promptMessageShown = true;
            Message(QStringLiteral("Le message sonore %1 est introuvable ou illisible : la dictée se poursuit sans lui.")
                        .arg(path),
                    false);
        }
        return false;
    }
    const QByteArray data = reader.Read(reader.DataLength());
    platform::AudioFormat out = ToAudioFormat(reader.Format());
    QByteArray pcm = data;
    if (!(reader.Format().BitsPerSample == 16 && audio_->OutputSupports(outDevice_, out))) {
        out = audio_->OutputPreferred(outDevice_);
        pcm = ConvertPcm(data, reader.Format(), out);
    }
    QString error;
    auto stream = pcm.isEmpty() ? nullptr : audio_->OpenPlayback(outDevice_, out, &error);
    if (!stream || !stream->Start(pcm)) {
        if (!g_deviceMessageShown) {
            g_deviceMessageShown = true;
            Message(QStringLiteral("Le message sonore %1 ne peut pas être joué : la dictée se poursuit sans lui.").arg(path),
                    false);
        }
        return false;
    }
    if (prompt_) {
        prompt_->disconnect(this);
        prompt_.release()->deleteLater();
    }
    prompt_ = std::move(stream);
    connect(prompt_.get(), &platform::PlaybackStream::stopped, this, [this] { PromptEnded(); });
    return true;
}

void TFormDictee::PromptEnded()
{
    if (prompt_) {
        prompt_->disconnect(this);
        prompt_.release()->deleteLater();
    }
    if (finishing_) {
        RequestClose();
        return;
    }
    // The ready prompt is over; a recording or playback begun meanwhile keeps its picture.
    if (!recording_ && !playing_)
        SetGlyph(GlyphStopped);
}

void TFormDictee::RequestClose()
{
    if (closeRequested_)
        return;
    closeRequested_ = true;
    Shutdown();
    if (OnCloseRequest)
        OnCloseRequest();
}

void TFormDictee::Shutdown()
{
    tracking_.stop();
    if (recording_)
        StopCapture(!Radiologist.Name.isEmpty());
    if (capture_) {
        capture_->disconnect(this);
        capture_->Stop();
        capture_.reset();
    }
    CloseWriter();
    if (playback_) {
        playback_->disconnect(this);
        playback_->Stop();
        playback_.reset();
    }
    playing_ = false;
    if (prompt_) {
        prompt_->disconnect(this);
        prompt_->Stop();
        prompt_.reset();
    }
}
