#include "viewer/dictation/wavefile.h"

#include "common/cp1252.h"
#include "common/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dictation {

namespace {

// Sample rates a dictation may have: the audio services divide by what a few
// milliseconds of audio hold, and a rate of a few samples per second makes that nothing.
constexpr quint32 kMinSampleRate = 1000;
constexpr quint32 kMaxSampleRate = 384000;

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

QString FormatProblem(const WaveFormat &f, bool forRecording)
{
    if (!f.IsPcm())
        return QStringLiteral("Ce n'est pas un enregistrement PCM (format n° %1).").arg(f.FormatTag == 0xFFFE ? f.SubFormat : f.FormatTag);
    if (f.Channels < 1 || f.Channels > 8)
        return QStringLiteral("Le nombre de canaux (%1) n'est pas permis.").arg(f.Channels);
    if (f.SampleRate < kMinSampleRate || f.SampleRate > kMaxSampleRate)
        return QStringLiteral("La fréquence d'échantillonnage (%1 échantillons par seconde) n'est pas permise.")
            .arg(f.SampleRate);
    const bool bitsOk = f.BitsPerSample == 8 || f.BitsPerSample == 16 || f.BitsPerSample == 32
                        || (f.BitsPerSample == 24 && !forRecording);
    if (!bitsOk)
        return forRecording ? QStringLiteral("La résolution de %1 bits ne peut pas être enregistrée.").arg(f.BitsPerSample)
                            : QStringLiteral("La résolution de %1 bits n'est pas permise.").arg(f.BitsPerSample);
    if (f.BlockAlign != f.Channels * (f.BitsPerSample / 8))
        return QStringLiteral("La taille des blocs (%1 octets) ne correspond pas aux canaux et à la résolution.")
            .arg(f.BlockAlign);
    if (f.AvgBytesPerSec != f.SampleRate * f.BlockAlign)
        return QStringLiteral("Le débit (%1 octets par seconde) ne correspond pas à la fréquence d'échantillonnage.")
            .arg(f.AvgBytesPerSec);
    return {};
}

WaveFile::~WaveFile() { Close(); }

bool WaveFile::Fail(const QString &message)
{
    error_ = message;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    writable_ = false;
    return false;
}

qint64 WaveFile::WriteAt(qint64 offset, const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            break;
        }
        done += n;
    }
    return done;
}

bool WaveFile::WriteAt(qint64 offset, const QByteArray &bytes)
{
    return WriteAt(offset, bytes.constData(), bytes.size()) == bytes.size();
}

QByteArray WaveFile::ReadAt(qint64 offset, qint64 size)
{
    QByteArray bytes(qsizetype(std::max<qint64>(0, size)), '\0');
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, bytes.data() + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(qsizetype(done));
    return bytes;
}

qint64 WaveFile::FileSize() const
{
    struct stat info {};
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 ? qint64(info.st_size) : 0;
}

bool WaveFile::Close()
{
    if (fd_ < 0)
        return !failed_;
    bool ok = true;
    if (writable_) {
        if (!failed_ && !UpdateHeader())
            ok = false;
        // Errors of writes the system kept for later come out here.
        if (::fsync(fd_) != 0 && errno != EINVAL) {
            if (ok)
                error_ = common::SystemErrorText(errno);
            ok = false;
        }
    }
    if (::close(fd_) != 0 && writable_) {
        if (ok)
            error_ = common::SystemErrorText(errno);
        ok = false;
    }
    fd_ = -1;
    writable_ = false;
    if (!ok)
        failed_ = true;
    return ok && !failed_;
}

bool WaveFile::Open(const QString &path, bool write)
{
    Close();
    error_.clear();
    failed_ = false;
    path_ = path;
    position_ = 0;
    QString error;
    fd_ = common::OpenRegularDescriptor(path, write ? O_RDWR : O_RDONLY,
                                        write ? common::Links::Refuse : common::Links::Follow, &error);
    if (fd_ < 0)
        return Fail(error);
    writable_ = write;
    return true;
}

bool WaveFile::Create(const QString &path, const WaveFormat &format)
{
    Close();
    error_.clear();
    failed_ = false;
    path_ = path;
    QString error;
    fd_ = common::OpenRegularDescriptor(path, O_RDWR | O_CREAT | O_TRUNC, common::Links::Refuse, &error);
    if (fd_ < 0)
        return Fail(error);
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
    dataLength_ = dataBytes_ = 0;
    position_ = 0;
    if (!WriteAt(0, header))
        return Fail(common::SystemErrorText(errno));
    if (!UpdateHeader())
        return Fail(error_);
    return true;
}

bool WaveFile::OpenAppend(const QString &path)
{
    if (!Open(path, true))
        return false;
    if (!Parse())
        return false;
    // Nothing is written to a file that is not understood whole, or that cannot be
    // continued in its own format.
    if (!understood_)
        return Fail(QStringLiteral("Le fichier est endommagé d'une façon qui ne peut pas être réparée sans perte : il "
                                   "n'est pas modifié."));
    if (const QString problem = FormatProblem(format_, true); !problem.isEmpty())
        return Fail(problem);
    if (dataOffset_ < 0) {
        // A header without a data chunk (a crash just after the file was made): the data
        // begins, empty, at the end.
        const qint64 end = FileSize();
        if (!WriteAt(end, QByteArray("data") + LittleEndian32(0)))
            return Fail(common::SystemErrorText(errno));
        dataIndex_ = int(chunks_.size());
        chunks_.append({"data", end, 0});
        dataOffset_ = end + 8;
        dataBytes_ = declaredData_ = 0;
    }
    // Data last and a tag area before it: append in place. Otherwise rebuild first.
    const bool dataLast = dataIndex_ == int(chunks_.size()) - 1
                          && dataOffset_ + dataBytes_ + (dataBytes_ & 1) >= FileSize();
    if (tagArea_ < 0 || !dataLast) {
        if (!Rebuild())
            return false;
    } else if (const qint64 partial = dataBytes_ % format_.BlockAlign; partial != 0) {
        // A sample block cut short by a crash is completed, not dropped: what follows stays
        // aligned and no byte of the recording goes.
        const QByteArray fill(qsizetype(format_.BlockAlign - partial), '\0');
        if (!WriteAt(dataOffset_ + dataBytes_, fill))
            return Fail(common::SystemErrorText(errno));
        dataBytes_ += fill.size();
    }
    dataLength_ = dataBytes_;
    if (declaredData_ != dataLength_ || FileSize() != dataOffset_ + dataLength_ + (dataLength_ & 1)) {
        if (!UpdateHeader())
            return Fail(error_);
    }
    position_ = dataLength_;
    return true;
}

bool WaveFile::OpenRead(const QString &path)
{
    if (!Open(path, false))
        return false;
    if (!Parse())
        return false;
    if (dataOffset_ < 0) {
        if (!understood_)
            return Fail(QStringLiteral("Le fichier est endommagé : ses données sonores sont introuvables."));
        // A header alone: an empty recording.
        dataOffset_ = FileSize();
        dataBytes_ = 0;
    }
    if (const QString problem = FormatProblem(format_, false); !problem.isEmpty())
        return Fail(problem);
    dataLength_ = dataBytes_ - dataBytes_ % format_.BlockAlign;
    position_ = 0;
    return true;
}

bool WaveFile::LooksLikeChunk(qint64 offset, qint64 length)
{
    if (offset + 8 > length)
        return false;
    const QByteArray h = ReadAt(offset, 8);
    if (h.size() < 8 || !ChunkId(h.left(4)))
        return false;
    // The data's size may be stale (a crash); any other chunk must fit in the file.
    return h.left(4) == "data" || offset + 8 + U32(h, 4) <= length;
}

bool WaveFile::KnownChunk(qint64 offset, qint64 length)
{
    static const QList<QByteArray> known = {"data", "fmt ", "LIST", "JUNK", "fact", "cue ", "PAD ", "bext", "smpl",
                                            "inst", "plst", "labl", "note", "ltxt", "id3 ", "ID3 ", "acid", "iXML"};
    return LooksLikeChunk(offset, length) && known.contains(ReadAt(offset, 4));
}

bool WaveFile::Parse()
{
    chunks_.clear();
    tagArea_ = -1;
    dataOffset_ = -1;
    dataIndex_ = -1;
    dataBytes_ = declaredData_ = dataLength_ = 0;
    understood_ = false;
    format_ = WaveFormat();
    const qint64 length = FileSize();
    const QByteArray head = ReadAt(0, 12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return Fail(QStringLiteral("Le fichier n'est pas un fichier WAV."));
    bool haveFormat = false;
    bool clean = true;
    qint64 offset = 12;
    while (offset + 8 <= length) {
        const QByteArray h = ReadAt(offset, 8);
        if (h.size() < 8 || !ChunkId(h.left(4))) {
            clean = false;
            break;
        }
        Chunk chunk{h.left(4), offset, U32(h, 4)};
        if (chunk.Id == "data") {
            if (dataOffset_ >= 0) {
                clean = false; // a second data chunk: which one is the recording?
                break;
            }
            dataOffset_ = offset + 8;
            declaredData_ = chunk.Size;
            const qint64 available = length - dataOffset_;
            const qint64 next = dataOffset_ + chunk.Size + (chunk.Size & 1);
            // Is what follows a chunk, or audio written after the last size update?
            const bool last = next >= length || !LooksLikeChunk(next, length);
            if (last) {
                // Everything to the end of the file is the recording: more than declared
                // when a crash left the sizes stale, less when the file was cut short.
                chunk.Size = available > chunk.Size + (chunk.Size & 1) ? available : std::min(chunk.Size, available);
            }
            dataBytes_ = chunk.Size;
            dataIndex_ = int(chunks_.size());
            chunks_.append(chunk);
            if (last) {
                offset = length;
                break;
            }
            offset = next;
            continue;
        }
        if (offset + 8 + chunk.Size > length) {
            clean = false; // a chunk cut short
            break;
        }
        if (chunk.Id == "fmt " && chunk.Size >= 16 && !haveFormat) {
            const QByteArray f = ReadAt(offset + 8, std::min<qint64>(chunk.Size, 40));
            format_.FormatTag = U16(f, 0);
            format_.Channels = U16(f, 2);
            format_.SampleRate = U32(f, 4);
            format_.AvgBytesPerSec = U32(f, 8);
            format_.BlockAlign = U16(f, 12);
            format_.BitsPerSample = U16(f, 14);
            // The extensible format names its sub-format in the first bytes of a GUID.
            if (format_.FormatTag == 0xFFFE && f.size() >= 26)
                format_.SubFormat = U16(f, 24);
            haveFormat = true;
        }
        chunks_.append(chunk);
        qint64 next = offset + 8 + chunk.Size + (chunk.Size & 1);
        // An odd-size chunk written without its pad byte: the next chunk starts one byte
        // earlier than the rule says. Told by a chunk name that WAV files use there and not
        // where the pad byte would have put it.
        if ((chunk.Size & 1) && next < length && !KnownChunk(next, length) && KnownChunk(next - 1, length))
            next -= 1;
        offset = next;
    }
    // Bytes left over that make no chunk (a scan stopped early) leave the layout unknown.
    understood_ = clean && offset >= length;
    if (!haveFormat)
        return Fail(QStringLiteral("Le fichier WAV n'a pas de format lisible."));
    // The tag area: LIST/INFO and JUNK chunks just before the data, kTagAreaSize in all.
    if (dataIndex_ >= 0) {
        const qint64 dataHeader = chunks_[dataIndex_].Offset;
        qint64 area = dataHeader;
        for (int i = dataIndex_ - 1; i >= 0; --i) {
            const Chunk &c = chunks_[i];
            bool isTag = c.Id == "JUNK";
            if (c.Id == "LIST")
                isTag = ReadAt(c.Offset + 8, 4) == "INFO";
            if (!isTag || c.Offset + 8 + c.Size + (c.Size & 1) != area)
                break;
            area = c.Offset;
            if (dataHeader - area == kTagAreaSize) {
                tagArea_ = area;
                break;
            }
            if (dataHeader - area > kTagAreaSize)
                break;
        }
    }
    return true;
}

bool WaveFile::Rebuild()
{
    // Every chunk but the data and the old tag area, in order; the INFO chunk in the new
    // tag area when it fits there (else kept where it was); then the data, every byte of
    // it, its last sample block completed when a crash cut it short.
    QByteArray out("RIFF");
    out += LittleEndian32(0);
    out += "WAVE";
    QByteArray info;
    QByteArray audio;
    for (const Chunk &c : chunks_) {
        if (c.Id == "data") {
            audio = ReadAt(dataOffset_, dataBytes_);
            if (audio.size() != dataBytes_)
                return Fail(common::SystemErrorText(errno ? errno : EIO));
            continue;
        }
        const QByteArray whole = ReadAt(c.Offset, 8 + c.Size);
        if (whole.size() != 8 + c.Size)
            return Fail(common::SystemErrorText(errno ? errno : EIO));
        if (c.Id == "JUNK")
            continue;
        if (c.Id == "LIST" && whole.mid(8, 4) == "INFO" && info.isEmpty() && whole.size() <= kTagAreaSize - 16) {
            info = Padded(whole);
            continue;
        }
        out += Padded(whole);
    }
    if (const qint64 partial = audio.size() % format_.BlockAlign; partial != 0)
        audio += QByteArray(qsizetype(format_.BlockAlign - partial), '\0');
    const qint64 area = out.size();
    out += TagArea(info);
    out += "data";
    out += LittleEndian32(quint32(audio.size()));
    out += audio;
    if (audio.size() % 2)
        out += '\0';
    qToLittleEndian(quint32(out.size() - 8), out.data() + 4);

    // Written whole beside the file, synchronised, then renamed over it: the old file
    // stays as it was until the new one holds everything.
    const QFileInfo where(path_);
    QByteArray temporary = QFile::encodeName(where.absolutePath() + QStringLiteral("/.") + where.fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail(common::SystemErrorText(errno));
    struct stat old {};
    const int previous = fd_;
    fd_ = fd;
    bool written = WriteAt(0, out);
    int code = errno;
    if (written && ::fstat(previous, &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    if (written && ::fsync(fd) != 0) {
        written = false;
        code = errno;
    }
    if (written && ::rename(temporary.constData(), QFile::encodeName(path_).constData()) != 0) {
        written = false;
        code = errno;
    }
    if (!written) {
        ::close(fd);
        ::unlink(temporary.constData());
        fd_ = previous;
        return Fail(common::SystemErrorText(code));
    }
    ::close(previous);
    tagArea_ = area;
    dataOffset_ = area + kTagAreaSize + 8;
    dataBytes_ = declaredData_ = audio.size();
    chunks_.clear();
    return true;
}

bool WaveFile::UpdateHeader()
{
    if (!writable_ || fd_ < 0)
        return false;
    const qint64 end = dataOffset_ + dataLength_;
    qint64 size = end;
    if (dataLength_ & 1) {
        // The pad byte of an odd data size; when it cannot be written the sizes still say
        // what the file holds.
        if (WriteAt(end, QByteArray(1, '\0')))
            size = end + 1;
        else
            size = std::min(FileSize(), end + 1);
    }
    if (!WriteAt(dataOffset_ - 4, LittleEndian32(quint32(dataLength_))) || !WriteAt(4, LittleEndian32(quint32(size - 8)))) {
        error_ = common::SystemErrorText(errno);
        return false;
    }
    return true;
}

bool WaveFile::WriteFailed(int code)
{
    failed_ = true;
    error_ = common::SystemErrorText(code);
    // Whatever of the last buffer did not make a whole block goes; the sizes then say
    // what the file holds.
    if (::ftruncate(fd_, off_t(dataOffset_ + dataLength_)) != 0) {
        // The header still describes the whole blocks before the failure.
    }
    UpdateHeader();
    return false;
}

bool WaveFile::Append(const char *data, qint64 size)
{
    if (!writable_ || fd_ < 0) {
        error_ = QStringLiteral("Le fichier n'est pas ouvert en écriture.");
        return false;
    }
    if (failed_)
        return false;
    const qint64 written = WriteAt(dataOffset_ + dataLength_, data, size);
    if (written != size) {
        const int code = errno;
        dataLength_ += written - written % format_.BlockAlign;
        dataBytes_ = dataLength_;
        return WriteFailed(code);
    }
    dataLength_ += size;
    dataBytes_ = dataLength_;
    if (!UpdateHeader())
        return WriteFailed(errno);
    return true;
}

bool WaveFile::WriteTags(const WaveTags &tags)
{
    if (!writable_ || tagArea_ < 0 || fd_ < 0) {
        error_ = QStringLiteral("Le fichier n'est pas ouvert en écriture.");
        return false;
    }
    // Also after a failed append: the tag area lies inside the file, and the dictation kept
    // should still name its radiologist.
    if (!WriteAt(tagArea_, TagArea(InfoChunk(tags)))) {
        error_ = common::SystemErrorText(errno);
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
    if (n <= 0 || fd_ < 0)
        return {};
    QByteArray bytes = ReadAt(dataOffset_ + position_, n);
    position_ += bytes.size();
    return bytes;
}

WaveTags WaveFile::ReadTags(const QString &path, bool *found)
{
    WaveTags tags;
    if (found)
        *found = false;
    QFile f;
    if (!common::OpenRegularFile(f, path, QIODevice::ReadOnly))
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
