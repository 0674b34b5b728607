// Playback conversion: channels mixed or repeated, samples widened, the rate changed
// without changing the pitch or the level.

#include "viewer/dictation/pcmconvert.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>

using dictation::ConvertPcm;
using dictation::WaveFormat;

namespace {

qint16 At(const QByteArray &b, qint64 i) { return qFromLittleEndian<qint16>(b.constData() + 2 * i); }

} // namespace

TEST(PcmConvert, ChannelsAndSampleSizes)
{
    // 8-bit stereo (unsigned) to 16-bit mono: the mean of the two channels.
    const QByteArray stereo8("\x80\x80\xFF\x01\xC0\xC0", 6);
    const QByteArray mono = ConvertPcm(stereo8, WaveFormat::Pcm(2, 8000, 8), {8000, 1, 16});
    ASSERT_EQ(mono.size(), 6);
    EXPECT_EQ(At(mono, 0), 0);
    EXPECT_EQ(At(mono, 1), 0); // +127 and -127 cancel out
    EXPECT_NEAR(At(mono, 2), 16384, 1);
    // 16-bit mono to stereo: each sample twice.
    QByteArray one(4, '\0');
    qToLittleEndian<qint16>(1000, one.data());
    qToLittleEndian<qint16>(-2000, one.data() + 2);
    const QByteArray two = ConvertPcm(one, WaveFormat::Recording(), {11025, 2, 16});
    ASSERT_EQ(two.size(), 8);
    EXPECT_EQ(At(two, 0), 1000);
    EXPECT_EQ(At(two, 1), 1000);
    EXPECT_EQ(At(two, 2), -2000);
    EXPECT_EQ(At(two, 3), -2000);
    // Not PCM: nothing.
    WaveFormat adpcm = WaveFormat::Recording();
    adpcm.FormatTag = 2;
    EXPECT_TRUE(ConvertPcm(one, adpcm, {11025, 1, 16}).isEmpty());
}

TEST(PcmConvert, ResamplingKeepsPitchAndLevel)
{
    // One second of 1 kHz at 11,025 Hz, amplitude 10,000, to 44,100 Hz.
    QByteArray in(2 * 11025, '\0');
    for (int i = 0; i < 11025; ++i)
        qToLittleEndian<qint16>(qint16(std::lround(10000 * std::sin(2 * M_PI * 1000 * i / 11025.0))), in.data() + 2 * i);
    const QByteArray out = ConvertPcm(in, WaveFormat::Recording(), {44100, 1, 16});
    const qint64 n = out.size() / 2;
    EXPECT_NEAR(double(n), 44100.0, 50.0);
    int crossings = 0;
    double peak = 0;
    // The middle of the signal, away from the filter's edges.
    for (qint64 i = 4410; i < n - 4410; ++i) {
        if ((At(out, i - 1) < 0) != (At(out, i) < 0))
            ++crossings;
        peak = std::max(peak, std::abs(double(At(out, i))));
    }
    const double seconds = double(n - 2 * 4410) / 44100.0;
    EXPECT_NEAR(crossings / seconds, 2000.0, 10.0);
    EXPECT_NEAR(peak, 10000.0, 200.0);
}
