#include "viewer/dictation/pcmconvert.h"

#include <QtEndian>

#include <samplerate.h>

#include <cmath>
#include <vector>

namespace dictation {

platform::AudioFormat ToAudioFormat(const WaveFormat &format)
{
    return {int(format.SampleRate), int(format.Channels), int(format.BitsPerSample)};
}

bool CanConvert(const WaveFormat &f)
{
    return f.IsPcm() && f.Channels > 0 && f.SampleRate > 0
           && (f.BitsPerSample == 8 || f.BitsPerSample == 16 || f.BitsPerSample == 24 || f.BitsPerSample == 32)
           && f.BlockAlign == f.Channels * (f.BitsPerSample / 8);
}

QByteArray ConvertPcm(const QByteArray &data, const WaveFormat &from, const platform::AudioFormat &to)
{
    if (!CanConvert(from) || to.Channels <= 0 || to.SampleRate <= 0)
        return {};
    const int bytes = from.BitsPerSample / 8;
    const qint64 frames = data.size() / from.BlockAlign;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    // Decoded to floats, then to the output's channels: mono from the mean of the
    // channels, more channels from the first ones (the last one repeated).
    std::vector<float> in(size_t(frames) * size_t(to.Channels));
    std::vector<float> frame(from.Channels);
    for (qint64 i = 0; i < frames; ++i) {
        for (int c = 0; c < from.Channels; ++c) {
            const uchar *s = p + i * from.BlockAlign + c * bytes;
            float v = 0;
            switch (bytes) {
            case 1: v = (int(s[0]) - 128) / 128.0f; break;
            case 2: v = qFromLittleEndian<qint16>(s) / 32768.0f; break;
            case 3: v = float(qint32(quint32(s[0]) << 8 | quint32(s[1]) << 16 | quint32(s[2]) << 24) / 2147483648.0); break;
            default: v = float(qFromLittleEndian<qint32>(s) / 2147483648.0); break;
            }
            frame[c] = v;
        }
        for (int c = 0; c < to.Channels; ++c) {
            float v;
            if (to.Channels == 1) {
                v = 0;
                for (float x : frame)
                    v += x;
                v /= float(from.Channels);
            } else {
                v = frame[std::min(c, int(from.Channels) - 1)];
            }
            in[size_t(i) * size_t(to.Channels) + size_t(c)] = v;
        }
    }
    std::vector<float> out;
    if (int(from.SampleRate) == to.SampleRate) {
        out = std::move(in);
    } else {
        const double ratio = double(to.SampleRate) / double(from.SampleRate);
        const long outFrames = long(std::ceil(double(frames) * ratio)) + 16;
        out.resize(size_t(outFrames) * size_t(to.Channels));
        SRC_DATA job{};
        job.data_in = in.data();
        job.input_frames = long(frames);
        job.data_out = out.data();
        job.output_frames = outFrames;
        job.src_ratio = ratio;
        if (frames > 0 && src_simple(&job, SRC_SINC_BEST_QUALITY, to.Channels) != 0)
            return {};
        out.resize(size_t(frames > 0 ? job.output_frames_gen : 0) * size_t(to.Channels));
    }
    QByteArray result(qsizetype(out.size()) * 2, '\0');
    for (size_t i = 0; i < out.size(); ++i) {
        const float v = std::clamp(out[i], -1.0f, 1.0f);
        qToLittleEndian<qint16>(qint16(std::lround(v * 32767.0f)), result.data() + 2 * i);
    }
    return result;
}

} // namespace dictation
