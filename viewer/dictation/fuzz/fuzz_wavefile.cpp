// libFuzzer target: any bytes as an existing dictation. Reading never writes the file; a
// file the appender refuses is left byte for byte; a file it takes keeps every byte the
// reader played, in front of what is appended. Any other outcome aborts.

#include "viewer/dictation/wavefile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString TempPath()
{
    static const QString path = QStringLiteral("/tmp/korvane_wavefile_fuzz_%1.wav").arg(getpid());
    return path;
}

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = TempPath();
    Put(path, input);
    QByteArray heard;
    {
        dictation::WaveFile reader;
        if (reader.OpenRead(path)) {
            (void)reader.Seek(reader.DataLength() / 2);
            (void)reader.Read(64);
            reader.Seek(0);
            heard = reader.Read(1 << 20);
        }
    }
    if (Bytes(path) != input)
        std::abort(); // reading wrote
    dictation::WaveFile writer;
    if (!writer.OpenAppend(path)) {
        if (Bytes(path) != input)
            std::abort(); // refused, but changed
        return 0;
    }
    const QByteArray more(4 * writer.Format().BlockAlign, '\x11');
    if (!writer.Append(more) || !writer.Close())
        return 0;
    dictation::WaveFile again;
    if (!again.OpenRead(path))
        std::abort(); // what the appender wrote cannot be read back
    const QByteArray all = again.Read(1 << 21);
    if (!all.startsWith(heard) || !all.endsWith(more))
        std::abort(); // audio lost
    return 0;
}
