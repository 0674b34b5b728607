#include "viewer/dictation/wavefile.h"

#include "common/cp1252.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

namespace dictation {

namespace {

quint32 U32(const QByteArray &b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 U16(const QByteArray &b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

// A chunk name: four printable ASCII characters. Raw audio left after a stale data size
// (a crash) is told from a real chunk by this and by a size that fits in the file.
bool ChunkId(const QByteArray &id)
{
    if (id.size() != 4)
        return false;
    for (char c : id)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

QByteArray FormatChunk(const WaveFormat &f)
{
    QByteArray b("fmt ");
    b += LittleEndian32(16);
    b += LittleEndian16(f.FormatTag);
    b += LittleEndian16(f.Channels);
    b += LittleEndian32(f.SampleRate);
    b += LittleEndian32(f.AvgBytesPerSec);
    b += LittleEndian16(f.BlockAlign);
    b += LittleEndian16(f.BitsPerSample);
    return b;
}

QByteArray Padded(QByteArray chunk)
{
    if (chunk.size() % 2)
        chunk += '\0';
    return chunk;
}

// The tag area: a LIST/INFO chunk (when `list` is not empty) and a JUNK chunk filling
// the rest of the area.
QByteArray TagArea(const QByteArray &list)
{
    QByteArray area = list;
    const int junk = WaveFile::kTagAreaSize - int(area.size()) - 8;
    area += "JUNK";
    area += LittleEndian32(quint32(junk));
    area += QByteArray(junk, '\0');
    return area;
}

QByteArray InfoChunk(const WaveTags &tags)
{
    const std::pair<const char *, const QString *> items[] = {
        {"IARL", &tags.Archive}, {"IENG", &tags.Engineer}, {"INAM", &tags.Name},  {"ISFT", &tags.Software},
        {"ISRF", &tags.Source},  {"ICMT", &tags.Comment},  {"IGNR", &tags.Genre},
    };
    QByteArray body("INFO");
    for (const auto &[id, text] : items) {
        QByteArray value = common::toCp1252(*text).left(WaveFile::kMaxTagBytes);
        // A NUL inside would end the text for every reader.
        value.replace('\0', ' ');
        value += '\0';
        QByteArray sub(id);
        sub += LittleEndian32(quint32(value.size()));
        sub += value;
        body += Padded(sub);
    }
    QByteArray list("LIST");
    list += LittleEndian32(quint32(body.size()));
    list += body;
    return list;
}

} // namespace

QByteArray LittleEndian32(quint32 value)
{
    QByteArray b(4, '\0');
    qToLittleEndian(value, b.data());
    return b;
}

QByteArray LittleEndian16(quint16 value)
{
    QByteArray b(2, '\0');
    qToLittleEndian(value, b.data());
    return b;
}

WaveFormat WaveFormat::Pcm(int channels, int sampleRate, int bits)
{
    WaveFormat f;
    f.Channels = quint16(channels);
    f.SampleRate = quint32(sampleRate);
    f.BitsPerSample = quint16(bits);
    f.BlockAlign = quint16(channels * ((bits + 7) / 8));
    f.AvgBytesPerSec = f.SampleRate * f.BlockAlign;
    return f;
}

WaveFile::~WaveFile() { Close(); }

bool WaveFile::Fail(const QString &message)
{
    error_ = message;
    file_.close();
    writable_ = false;
    return false;
}

bool WaveFile::WriteAt(qint64 offset, const QByteArray &bytes)
{
    if (!file_.seek(offset) || file_.write(bytes) != bytes.size())
        return false;
    return true;
}

void WaveFile::Close()
{
    if (!file_.isOpen())
        return;
    if (writable_)
        UpdateHeader();
    file_.close();
    writable_ = false;
}

bool WaveFile::Create(const QString &path, const WaveFormat &format)
{
    Close();
    error_.clear();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return Fail(file_.errorString());
    writable_ = true;
    format_ = format;
    QByteArray header("RIFF");
    header += LittleEndian32(0);
    header += "WAVE";
    header += FormatChunk(format);
    tagArea_ = header.size();
    header += TagArea({});
    header += "data";
    header += LittleEndian32(0);
    dataOffset_ = header.size();
    dataLength_ = 0;
    position_ = 0;
    if (!WriteAt(0, header) || !UpdateHeader())
        return Fail(file_.errorString());
    return true;
}

bool WaveFile::OpenAppend(const QString &path)
{
    Close();
    error_.clear();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadWrite))
        return Fail(file_.errorString());
    writable_ = true;
    if (!Parse(true))
        return false;
    // Data last and a tag area before it: append in place. Otherwise rebuild first.
    const qint64 end = dataOffset_ + dataLength_ + (dataLength_ & 1);
    if (tagArea_ < 0 || end < file_.size()) {
        if (!Rebuild())
            return false;
    }
    position_ = dataLength_;
    return true;
}

bool WaveFile::OpenRead(const QString &path)
{
    Close();
    error_.clear();
    file_.setFileName(path);
    // Opened for writing when allowed, so that a crash's leftovers are repaired.
    if (QFileInfo(path).isWritable() && file_.open(QIODevice::ReadWrite)) {
        writable_ = true;
    } else if (!file_.open(QIODevice::ReadOnly)) {
        return Fail(file_.errorString());
    }
    if (!Parse(writable_))
        return false;
    if (writable_) {
        file_.flush();
        file_.close();
        writable_ = false;
        if (!file_.open(QIODevice::ReadOnly))
            return Fail(file_.errorString());
    }
    position_ = 0;
    return true;
}

bool WaveFile::Parse(bool repair)
{
    chunks_.clear();
    tagArea_ = -1;
    dataOffset_ = -1;
    const qint64 length = file_.size();
    if (!file_.seek(0))
        return Fail(file_.errorString());
    const QByteArray head = file_.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return Fail(QStringLiteral("Le fichier n'est pas un fichier WAV."));
    bool haveFormat = false;
    int dataIndex = -1;
    qint64 offset = 12;
    while (offset + 8 <= length) {
        file_.seek(offset);
        const QByteArray h = file_.read(8);
        Chunk chunk{h.left(4), offset, U32(h, 4)};
        if (!ChunkId(chunk.Id))
            break;
        if (chunk.Id == "data") {
            dataOffset_ = offset + 8;
            const qint64 next = dataOffset_ + chunk.Size + (chunk.Size & 1);
            bool last = next >= length;
            if (!last) {
                // Is what follows a chunk, or audio written after the last size update?
                file_.seek(next);
                const QByteArray after = file_.read(8);
                last = after.size() < 8 || !ChunkId(after.left(4)) || next + 8 + U32(after, 4) > length;
            }
            if (last)
                chunk.Size = length - dataOffset_;
            dataIndex = int(chunks_.size());
            chunks_.append(chunk);
            if (last)
                break;
            offset = next;
            continue;
        }
        if (offset + 8 + chunk.Size > length)
            break; // a chunk cut short: nothing usable follows
        if (chunk.Id == "fmt " && chunk.Size >= 16) {
            const QByteArray f = file_.read(16);
            format_.FormatTag = U16(f, 0);
            format_.Channels = U16(f, 2);
            format_.SampleRate = U32(f, 4);
            format_.AvgBytesPerSec = U32(f, 8);
            format_.BlockAlign = U16(f, 12);
            format_.BitsPerSample = U16(f, 14);
            haveFormat = true;
        }
        chunks_.append(chunk);
        offset += 8 + chunk.Size + (chunk.Size & 1);
    }
    if (!haveFormat || format_.BlockAlign == 0 || format_.AvgBytesPerSec == 0)
        return Fail(QStringLiteral("Le fichier WAV n'a pas de format lisible."));
    if (dataOffset_ < 0) {
        // A header without a data chunk: the data begins (empty) at the end.
        if (!repair)
            return Fail(QStringLiteral("Le fichier WAV n'a pas de données."));
        const qint64 end = offset;
        if (!file_.resize(end) || !WriteAt(end, QByteArray("data") + LittleEndian32(0)))
            return Fail(file_.errorString());
        dataIndex = int(chunks_.size());
        chunks_.append({"data", end, 0});
        dataOffset_ = end + 8;
    }
    Chunk &data = chunks_[dataIndex];
    const bool dataLast = dataIndex == int(chunks_.size()) - 1;
    const qint64 declared = data.Size;
    // Whole sample blocks only; a half-written block at the end is dropped.
    qint64 size = std::min<qint64>(data.Size, length - dataOffset_);
    size -= size % format_.BlockAlign;
    data.Size = size;
    dataLength_ = size;
    // The tag area: LIST/INFO and JUNK chunks just before the data, kTagAreaSize in all.
    qint64 area = data.Offset;
    for (int i = dataIndex - 1; i >= 0; --i) {
        const Chunk &c = chunks_[i];
        bool isTag = c.Id == "JUNK";
        if (c.Id == "LIST") {
            file_.seek(c.Offset + 8);
            isTag = file_.read(4) == "INFO";
        }
        if (!isTag || c.Offset + 8 + c.Size + (c.Size & 1) != area)
            break;
        area = c.Offset;
        if (data.Offset - area == kTagAreaSize) {
            tagArea_ = area;
            break;
        }
        if (data.Offset - area > kTagAreaSize)
            break;
    }
    if (repair) {
        const qint64 end = dataOffset_ + dataLength_;
        const bool trailing = dataLast && declared != dataLength_ && length > end + (dataLength_ & 1);
        if (trailing && !file_.resize(end))
            return Fail(file_.errorString());
        if (!UpdateHeader())
            return Fail(file_.errorString());
    }
    return true;
}

bool WaveFile::Rebuild()
{
    // Every chunk but the data and the old tags, in order; the INFO chunk kept when it
    // fits in the tag area; then the data.
    QByteArray out("RIFF");
    out += LittleEndian32(0);
    out += "WAVE";
    QByteArray info;
    QByteArray audio;
    for (const Chunk &c : chunks_) {
        file_.seek(c.Offset);
        if (c.Id == "data") {
            file_.seek(dataOffset_);
            audio = file_.read(dataLength_);
            continue;
        }
        const QByteArray whole = file_.read(8 + c.Size);
        if (c.Id == "JUNK")
            continue;
        if (c.Id == "LIST" && whole.mid(8, 4) == "INFO") {
            if (whole.size() <= kTagAreaSize - 16)
                info = Padded(whole);
            continue;
        }
        out += Padded(whole);
    }
    const qint64 area = out.size();
    out += TagArea(info);
    out += "data";
    out += LittleEndian32(quint32(audio.size()));
    out += audio;
    if (audio.size() % 2)
        out += '\0';
    qToLittleEndian(quint32(out.size() - 8), out.data() + 4);
    const QString path = file_.fileName();
    file_.close();
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly) || save.write(out) != out.size() || !save.commit())
        return Fail(save.errorString());
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadWrite))
        return Fail(file_.errorString());
    tagArea_ = area;
    dataOffset_ = area + kTagAreaSize + 8;
    dataLength_ = audio.size();
    return true;
}

bool WaveFile::UpdateHeader()
{
    if (!writable_)
        return false;
    const qint64 end = dataOffset_ + dataLength_;
    if (dataLength_ & 1) {
        if (!WriteAt(end, QByteArray(1, '\0')))
            return false;
    }
    const qint64 riff = std::max<qint64>(file_.size(), end + (dataLength_ & 1)) - 8;
    if (!WriteAt(dataOffset_ - 4, LittleEndian32(quint32(dataLength_))) || !WriteAt(4, LittleEndian32(quint32(riff))))
        return false;
    return file_.flush();
}

bool WaveFile::Append(const char *data, qint64 size)
{
    if (!writable_) {
        error_ = QStringLiteral("Le fichier n'est pas ouvert en écriture.");
        return false;
    }
    if (!file_.seek(dataOffset_ + dataLength_) || file_.write(data, size) != size) {
        error_ = file_.errorString();
        return false;
    }
    dataLength_ += size;
    if (!UpdateHeader()) {
        error_ = file_.errorString();
        return false;
    }
    return true;
}

bool WaveFile::WriteTags(const WaveTags &tags)
{
    if (!writable_ || tagArea_ < 0) {
        error_ = QStringLiteral("Le fichier n'est pas ouvert en écriture.");
        return false;
    }
    if (!WriteAt(tagArea_, TagArea(InfoChunk(tags))) || !file_.flush()) {
        error_ = file_.errorString();
        return false;
    }
    return true;
}

bool WaveFile::Seek(qint64 position)
{
    if (position < 0 || position > dataLength_)
        return false;
    position_ = position;
    return true;
}

QByteArray WaveFile::Read(qint64 maxBytes)
{
    const qint64 n = std::min(maxBytes, dataLength_ - position_);
    if (n <= 0 || !file_.seek(dataOffset_ + position_))
        return {};
    QByteArray bytes = file_.read(n);
    position_ += bytes.size();
    return bytes;
}

WaveTags WaveFile::ReadTags(const QString &path, bool *found)
{
    WaveTags tags;
    if (found)
        *found = false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return tags;
    const QByteArray all = f.readAll();
    qint64 offset = 12;
    while (offset + 8 <= all.size()) {
        const QByteArray id = all.mid(offset, 4);
        const qint64 size = U32(all, int(offset + 4));
        if (id == "LIST" && all.mid(offset + 8, 4) == "INFO") {
            if (found)
                *found = true;
            qint64 at = offset + 12;
            const qint64 end = std::min<qint64>(offset + 8 + size, all.size());
            while (at + 8 <= end) {
                const QByteArray sub = all.mid(at, 4);
                const qint64 n = U32(all, int(at + 4));
                QByteArray text = all.mid(at + 8, n);
                if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
                    text.truncate(nul);
                const QString value = common::fromCp1252(text);
                if (sub == "IARL") tags.Archive = value;
                else if (sub == "IENG") tags.Engineer = value;
                else if (sub == "INAM") tags.Name = value;
                else if (sub == "ISFT") tags.Software = value;
                else if (sub == "ISRF") tags.Source = value;
                else if (sub == "ICMT") tags.Comment = value;
                else if (sub == "IGNR") tags.Genre = value;
                at += 8 + n + (n & 1);
            }
        }
        if (id == "data")
            break;
        offset += 8 + size + (size & 1);
    }
    return tags;
}

} // namespace dictation
