#pragma once

#include <QByteArray>
#include <QImage>

namespace shell {
// Decodes a baseline or progressive JPEG with libjpeg into an RGB image; a
// null image when the bytes are not a readable JPEG.
QImage DecodeJpeg(const QByteArray &bytes);
} // namespace shell
