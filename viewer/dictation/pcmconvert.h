#pragma once
// Conversion of a dictation's PCM data to the format an output device plays: 16 bits,
// the device's channel count and sample rate (best-quality sinc resampling).

#include "platform/audio.h"
#include "viewer/dictation/wavefile.h"

#include <QByteArray>

namespace dictation {

platform::AudioFormat ToAudioFormat(const WaveFormat &format);

// Whether the data of `format` can be decoded (PCM of 8, 16, 24 or 32 bits).
bool CanConvert(const WaveFormat &format);

// `data` (in `from`, whole blocks) converted to `to`; empty when `from` cannot be
// decoded or the conversion fails.
QByteArray ConvertPcm(const QByteArray &data, const WaveFormat &from, const platform::AudioFormat &to);

} // namespace dictation
