#include "platform/audio.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QBuffer>
#include <QMediaDevices>

namespace platform {

namespace {

QAudioFormat ToQt(const AudioFormat &f)
{
    QAudioFormat q;
    q.setSampleRate(f.SampleRate);
    q.setChannelCount(f.Channels);
    switch (f.BitsPerSample) {
    case 8: q.setSampleFormat(QAudioFormat::UInt8); break;
    case 32: q.setSampleFormat(QAudioFormat::Int32); break;
    default: q.setSampleFormat(QAudioFormat::Int16); break;
    }
    return q;
}

QAudioDevice Find(const QList<QAudioDevice> &devices, const QString &name, const QAudioDevice &fallback)
{
    for (const QAudioDevice &d : devices)
        if (d.description() == name || QString::fromUtf8(d.id()) == name)
            return d;
    return fallback;
}

QStringList Names(const QList<QAudioDevice> &devices)
{
    QStringList names;
    for (const QAudioDevice &d : devices)
        names << d.description();
    return names;
}

// Notifications go through the event queue, so that a stream's owner never sees them
// inside its own call to Start or Stop.
template<class Stream, class Signal>
void Notify(Stream *stream, Signal signal)
{
    QMetaObject::invokeMethod(stream, [stream, signal] { emit(stream->*signal)(); }, Qt::QueuedConnection);
}

class QtCapture : public CaptureStream
{
public:
    QtCapture(const QAudioDevice &device, const AudioFormat &format) : source_(device, ToQt(format))
    {
        source_.setBufferSize(20 * kBufferSize);
    }
    ~QtCapture() override
    {
        source_.disconnect(this);
        source_.stop();
    }

    bool Start() override
    {
        error_.clear();
        captured_ = 0;
        pending_.clear();
        io_ = source_.start();
        if (!io_ || source_.error() != QAudio::NoError) {
            error_ = QStringLiteral("Le périphérique d'enregistrement ne peut pas démarrer.");
            io_ = nullptr;
            return false;
        }
        connect(io_, &QIODevice::readyRead, this, [this] { Take(false); });
        active_ = true;
        Notify(this, &CaptureStream::started);
        return true;
    }
    void Stop() override
    {
        if (!active_)
            return;
        Take(true);
        active_ = false;
        if (io_)
            io_->disconnect(this);
        io_ = nullptr;
        source_.stop();
        Notify(this, &CaptureStream::stopped);
    }
    bool Active() const override { return active_; }
    qint64 BytesCaptured() const override { return captured_; }
    QString errorString() const override { return error_; }

private:
    void Take(bool last)
    {
        if (io_)
            pending_ += io_->readAll();
        while (pending_.size() >= kBufferSize || (last && !pending_.isEmpty())) {
            const QByteArray buffer = pending_.left(kBufferSize);
            pending_.remove(0, buffer.size());
            captured_ += buffer.size();
            emit dataReady(buffer);
        }
    }

    QAudioSource source_;
    QIODevice *io_ = nullptr;
    QByteArray pending_;
    qint64 captured_ = 0;
    bool active_ = false;
    QString error_;
};

class QtPlayback : public PlaybackStream
{
public:
    QtPlayback(const QAudioDevice &device, const AudioFormat &format) : sink_(device, ToQt(format))
    {
        sink_.setBufferSize(2 * kBufferSize);
        connect(&sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
            // The data is all taken and played: the stream ends.
            if (state == QAudio::IdleState && active_)
                Stop();
        });
    }
    ~QtPlayback() override
    {
        sink_.disconnect(this);
        sink_.stop();
    }

    bool Start(const QByteArray &pcm) override
    {
        error_.clear();
        buffer_.close();
        buffer_.setData(pcm);
        buffer_.open(QIODevice::ReadOnly);
        sink_.start(&buffer_);
        if (sink_.error() != QAudio::NoError && sink_.error() != QAudio::UnderrunError) {
            error_ = QStringLiteral("Le périphérique d'écoute ne peut pas démarrer.");
            return false;
        }
        active_ = true;
        Notify(this, &PlaybackStream::started);
        return true;
    }
    void Stop() override
    {
        if (!active_)
            return;
        active_ = false;
        played_ = buffer_.pos();
        sink_.stop();
        Notify(this, &PlaybackStream::stopped);
    }
    bool Active() const override { return active_; }
    qint64 BytesPlayed() const override { return active_ ? buffer_.pos() : played_; }
    QString errorString() const override { return error_; }

private:
    QAudioSink sink_;
    QBuffer buffer_;
    qint64 played_ = 0;
    bool active_ = false;
    QString error_;
};

} // namespace

QStringList QtAudioSystem::InputDevices() const { return Names(QMediaDevices::audioInputs()); }

QStringList QtAudioSystem::OutputDevices() const { return Names(QMediaDevices::audioOutputs()); }

bool QtAudioSystem::OutputSupports(const QString &device, const AudioFormat &format) const
{
    const QAudioDevice d = Find(QMediaDevices::audioOutputs(), device, QMediaDevices::defaultAudioOutput());
    return !d.isNull() && d.isFormatSupported(ToQt(format));
}

AudioFormat QtAudioSystem::OutputPreferred(const QString &device) const
{
    const QAudioDevice d = Find(QMediaDevices::audioOutputs(), device, QMediaDevices::defaultAudioOutput());
    const QAudioFormat q = d.preferredFormat();
    AudioFormat f;
    f.SampleRate = q.sampleRate() > 0 ? q.sampleRate() : 44100;
    f.Channels = q.channelCount() > 0 ? q.channelCount() : 2;
    f.BitsPerSample = 16;
    return f;
}

std::unique_ptr<CaptureStream> QtAudioSystem::OpenCapture(const QString &device, const AudioFormat &format,
                                                          QString *error)
{
    const QAudioDevice d = Find(QMediaDevices::audioInputs(), device, QMediaDevices::defaultAudioInput());
    if (d.isNull()) {
        if (error)
            *error = QStringLiteral("Aucun périphérique d'enregistrement.");
        return nullptr;
    }
    return std::make_unique<QtCapture>(d, format);
}

std::unique_ptr<PlaybackStream> QtAudioSystem::OpenPlayback(const QString &device, const AudioFormat &format,
                                                            QString *error)
{
    const QAudioDevice d = Find(QMediaDevices::audioOutputs(), device, QMediaDevices::defaultAudioOutput());
    if (d.isNull()) {
        if (error)
            *error = QStringLiteral("Aucun périphérique d'écoute.");
        return nullptr;
    }
    return std::make_unique<QtPlayback>(d, format);
}

} // namespace platform
