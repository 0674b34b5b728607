#include "platform/audio.h"

#include <QtEndian>

namespace platform {

// A stream of the double that moves with the shared clock.
struct ClockedAudioSystem::Clocked
{
    virtual ~Clocked() = default;
    virtual void Tick(int ms) = 0;
};

namespace {

template<class Stream, class Signal>
void Notify(Stream *stream, Signal signal)
{
    QMetaObject::invokeMethod(stream, [stream, signal] { emit(stream->*signal)(); }, Qt::QueuedConnection);
}

class ClockedCapture : public CaptureStream, public ClockedAudioSystem::Clocked
{
public:
    ClockedCapture(ClockedAudioSystem &system, std::shared_ptr<QList<Clocked *>> list, const AudioFormat &format)
        : system_(system), list_(std::move(list)), format_(format)
    {
        list_->append(this);
    }
    ~ClockedCapture() override { list_->removeOne(this); }

    bool Start() override
    {
        active_ = true;
        captured_ = 0;
        elapsedMs_ = 0;
        frames_ = 0;
        pending_.clear();
        Notify(this, &CaptureStream::started);
        return true;
    }
    void Stop() override
    {
        if (!active_)
            return;
        Flush(true);
        active_ = false;
        Notify(this, &CaptureStream::stopped);
    }
    bool Active() const override { return active_; }
    qint64 BytesCaptured() const override { return captured_; }
    QString errorString() const override { return {}; }

    void Tick(int ms) override
    {
        if (!active_)
            return;
        elapsedMs_ += ms;
        // Frames counted from the start, so that no rounding builds up.
        const qint64 total = elapsedMs_ * format_.SampleRate / 1000;
        const int bytesPerSample = (format_.BitsPerSample + 7) / 8;
        for (; frames_ < total; ++frames_) {
            const qint16 value = system_.Generator ? system_.Generator(frames_) : qint16(0);
            for (int c = 0; c < format_.Channels; ++c) {
                char sample[4] = {};
                if (bytesPerSample == 1)
                    sample[0] = char((value >> 8) + 128);
                else
                    qToLittleEndian(value, sample + bytesPerSample - 2);
                pending_.append(sample, bytesPerSample);
            }
        }
        Flush(false);
    }

private:
    void Flush(bool last)
    {
        while (pending_.size() >= kBufferSize || (last && !pending_.isEmpty())) {
            const QByteArray buffer = pending_.left(kBufferSize);
            pending_.remove(0, buffer.size());
            captured_ += buffer.size();
            ++system_.Delivering;
            emit dataReady(buffer);
            --system_.Delivering;
        }
    }

    ClockedAudioSystem &system_;
    std::shared_ptr<QList<Clocked *>> list_;
    AudioFormat format_;
    bool active_ = false;
    qint64 captured_ = 0;
    qint64 elapsedMs_ = 0;
    qint64 frames_ = 0;
    QByteArray pending_;
};

class ClockedPlayback : public PlaybackStream, public ClockedAudioSystem::Clocked
{
public:
    ClockedPlayback(ClockedAudioSystem &system, std::shared_ptr<QList<Clocked *>> list, const AudioFormat &format)
        : system_(system), list_(std::move(list)), format_(format)
    {
        list_->append(this);
    }
    ~ClockedPlayback() override { list_->removeOne(this); }

    bool Start(const QByteArray &pcm) override
    {
        data_ = pcm;
        played_ = 0;
        elapsedMs_ = 0;
        active_ = true;
        ++system_.PlaybackStarts;
        Notify(this, &PlaybackStream::started);
        // The output takes its first buffers at once, as a real device fills its queue.
        Take(std::min<qint64>(2 * kBufferSize, data_.size()));
        return true;
    }
    void Stop() override
    {
        if (!active_)
            return;
        active_ = false;
        Notify(this, &PlaybackStream::stopped);
    }
    bool Active() const override { return active_; }
    qint64 BytesPlayed() const override { return played_; }
    QString errorString() const override { return {}; }

    void Tick(int ms) override
    {
        if (!active_)
            return;
        elapsedMs_ += ms;
        const qint64 heard = elapsedMs_ * format_.BytesPerSecond() / 1000;
        // The output stays two buffers ahead of what is heard.
        Take(std::min<qint64>(heard - heard % format_.BytesPerFrame() + 2 * kBufferSize, data_.size()));
        if (heard >= data_.size())
            Stop();
    }

private:
    void Take(qint64 upTo)
    {
        if (upTo > played_) {
            system_.Played += data_.mid(played_, upTo - played_);
            played_ = upTo;
        }
    }

    ClockedAudioSystem &system_;
    std::shared_ptr<QList<Clocked *>> list_;
    AudioFormat format_;
    QByteArray data_;
    qint64 played_ = 0;
    qint64 elapsedMs_ = 0;
    bool active_ = false;
};

} // namespace

ClockedAudioSystem::ClockedAudioSystem() : streams_(std::make_shared<QList<Clocked *>>()) {}

ClockedAudioSystem::~ClockedAudioSystem() = default;

void ClockedAudioSystem::Advance(int ms)
{
    // In steps of 10 ms, as buffers complete one after the other.
    for (int done = 0; done < ms; done += 10) {
        const QList<Clocked *> streams = *streams_;
        for (Clocked *s : streams)
            if (streams_->contains(s))
                s->Tick(std::min(10, ms - done));
    }
}

bool ClockedAudioSystem::OutputSupports(const QString &, const AudioFormat &format) const
{
    return OutputFormats.isEmpty() || OutputFormats.contains(format);
}

std::unique_ptr<CaptureStream> ClockedAudioSystem::OpenCapture(const QString &device, const AudioFormat &format,
                                                               QString *error)
{
    if (FailCapture) {
        if (error)
            *error = QStringLiteral("Aucun périphérique d'enregistrement.");
        return nullptr;
    }
    LastCaptureDevice = device;
    LastCaptureFormat = format;
    return std::make_unique<ClockedCapture>(*this, streams_, format);
}

std::unique_ptr<PlaybackStream> ClockedAudioSystem::OpenPlayback(const QString &device, const AudioFormat &format,
                                                                 QString *error)
{
    if (FailPlayback) {
        if (error)
            *error = QStringLiteral("Aucun périphérique d'écoute.");
        return nullptr;
    }
    LastPlaybackDevice = device;
    LastPlaybackFormat = format;
    return std::make_unique<ClockedPlayback>(*this, streams_, format);
}

} // namespace platform
