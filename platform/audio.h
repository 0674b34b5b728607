#pragma once
// Audio capture and playback for the dictation: device lists, a capture stream that hands
// over its data in buffers, a playback stream that plays a block of PCM data. Start and
// stop of each stream are reported by signals on the user-interface thread.
//
// QtAudioSystem uses Qt Multimedia; ClockedAudioSystem is the test double, whose streams
// move only when the test advances their clock.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace platform {

// Linear PCM, little-endian, signed for 16 bits and more, unsigned for 8 bits.
struct AudioFormat
{
    int SampleRate = 11025;
    int Channels = 1;
    int BitsPerSample = 16;
    int BytesPerFrame() const { return Channels * ((BitsPerSample + 7) / 8); }
    int BytesPerSecond() const { return SampleRate * BytesPerFrame(); }
    bool operator==(const AudioFormat &) const = default;
};

class CaptureStream : public QObject
{
    Q_OBJECT
public:
    // Captured data is handed over in buffers of this size (the last one of a capture may
    // be shorter).
    static constexpr int kBufferSize = 4096;

    using QObject::QObject;
    // Starts the capture; `started` follows. False (with errorString) when it cannot.
    virtual bool Start() = 0;
    // Stops it: whatever was captured is handed over (dataReady) before Stop returns;
    // `stopped` follows.
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
    // Bytes handed over since Start.
    virtual qint64 BytesCaptured() const = 0;
    virtual QString errorString() const = 0;

signals:
    void started();
    void stopped();
    void dataReady(const QByteArray &buffer);
};

class PlaybackStream : public QObject
{
    Q_OBJECT
public:
    // Bytes the output keeps buffered ahead of what is heard.
    static constexpr int kBufferSize = 4096;

    using QObject::QObject;
    // Plays `pcm` (in the stream's format) from its start; `started` follows, then
    // `stopped` at its end or after Stop. False (with errorString) when it cannot.
    virtual bool Start(const QByteArray &pcm) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
    // Bytes of `pcm` taken by the output so far.
    virtual qint64 BytesPlayed() const = 0;
    virtual QString errorString() const = 0;

signals:
    void started();
    void stopped();
};

class AudioSystem
{
public:
    virtual ~AudioSystem() = default;
    virtual QStringList InputDevices() const = 0;
    virtual QStringList OutputDevices() const = 0;
    // Whether an output device plays a format as it is.
    virtual bool OutputSupports(const QString &device, const AudioFormat &format) const = 0;
    // The format an output device prefers (16 bits, its rate and channel count).
    virtual AudioFormat OutputPreferred(const QString &device) const = 0;
    // Streams on a device; an empty name is the system's default device. Null with
    // `error` set when the device cannot be opened.
    virtual std::unique_ptr<CaptureStream> OpenCapture(const QString &device, const AudioFormat &format,
                                                       QString *error) = 0;
    virtual std::unique_ptr<PlaybackStream> OpenPlayback(const QString &device, const AudioFormat &format,
                                                         QString *error) = 0;
};

// Qt Multimedia (QMediaDevices, QAudioSource, QAudioSink).
class QtAudioSystem : public AudioSystem
{
public:
    QStringList InputDevices() const override;
    QStringList OutputDevices() const override;
    bool OutputSupports(const QString &device, const AudioFormat &format) const override;
    AudioFormat OutputPreferred(const QString &device) const override;
    std::unique_ptr<CaptureStream> OpenCapture(const QString &device, const AudioFormat &format,
                                               QString *error) override;
    std::unique_ptr<PlaybackStream> OpenPlayback(const QString &device, const AudioFormat &format,
                                                 QString *error) override;
};

// The test double. Streams start and stop with queued notifications, like real devices;
// capture streams produce samples (from Generator, else silence) and playback streams
// consume data only when Advance moves the shared clock.
class ClockedAudioSystem : public AudioSystem
{
public:
    ClockedAudioSystem();
    ~ClockedAudioSystem() override;

    QStringList Inputs{QStringLiteral("Micro 1"), QStringLiteral("Micro 2")};
    QStringList Outputs{QStringLiteral("Haut-parleurs 1"), QStringLiteral("Haut-parleurs 2")};
    // Formats the outputs play as they are; empty: any.
    QList<AudioFormat> OutputFormats;
    AudioFormat Preferred{44100, 2, 16};
    // The 16-bit sample value at frame n of a capture (all channels alike).
    std::function<qint16(qint64 frame)> Generator;
    // Opening a device fails when set.
    bool FailCapture = false;
    bool FailPlayback = false;

    // Moves the clock: every active stream captures or plays `ms` milliseconds.
    void Advance(int ms);

    // What was opened (device and format), for the tests.
    QString LastCaptureDevice, LastPlaybackDevice;
    AudioFormat LastCaptureFormat, LastPlaybackFormat;
    // How many capture deliveries are running (dataReady signals, one inside another when a
    // receiver stops the stream); 0 outside them.
    int Delivering = 0;
    // Everything played so far, in the order it was taken by the outputs.
    QByteArray Played;
    int PlaybackStarts = 0;

    QStringList InputDevices() const override { return Inputs; }
    QStringList OutputDevices() const override { return Outputs; }
    bool OutputSupports(const QString &device, const AudioFormat &format) const override;
    AudioFormat OutputPreferred(const QString &) const override { return Preferred; }
    std::unique_ptr<CaptureStream> OpenCapture(const QString &device, const AudioFormat &format,
                                               QString *error) override;
    std::unique_ptr<PlaybackStream> OpenPlayback(const QString &device, const AudioFormat &format,
                                                 QString *error) override;

    struct Clocked;
private:
    std::shared_ptr<QList<Clocked *>> streams_;
};

} // namespace platform
