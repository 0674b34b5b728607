#pragma once
// The dictation's RIFF WAVE file: created in the recording format, appended to in its
// own format, read for playback, tagged with a LIST/INFO chunk.
//
// Layout of every file this class writes (and of every file it opens for writing, which
// is brought to it first):
//
//   "RIFF" size "WAVE"
//   "fmt " chunk                      the file's format, kept as found
//   other chunks of a foreign file    kept as found, in their order
//   tag area of kTagAreaSize bytes:   a "LIST" "INFO" chunk (when tags were written)
//                                     followed by a "JUNK" chunk filling the rest
//   "data" chunk                      always the last chunk
//
// The tags sit in a fixed area before the data, so rewriting them never moves the audio,
// and the data chunk is last, so appending is writing at the end of the file and
// bringing two sizes up to date. A later append therefore keeps one INFO chunk and one
// data chunk. A file of another layout (data not last, no tag area) is rebuilt into this
// one, through a temporary file renamed over it, before anything is appended.
//
// Never losing a dictation: the RIFF and data sizes are rewritten after every appended
// buffer and at every close, so a killed process leaves a valid file holding everything
// up to the last completed buffer; and a file whose sizes disagree with its length (left
// by a crash) is repaired when opened, its data being everything up to the end of the
// file, in whole sample blocks.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace dictation {

struct WaveFormat
{
    quint16 FormatTag = 1; // 1: PCM
    quint16 Channels = 1;
    quint32 SampleRate = 11025;
    quint16 BitsPerSample = 16;
    quint16 BlockAlign = 2;
    quint32 AvgBytesPerSec = 22050;

    // PCM, 1 channel, 11,025 samples per second, 16 bits.
    static WaveFormat Recording() { return {}; }
    static WaveFormat Pcm(int channels, int sampleRate, int bits);
    bool IsPcm() const { return FormatTag == 1 || FormatTag == 0xFFFE; }
    bool operator==(const WaveFormat &) const = default;
};

// The seven INFO tags of a dictation, in the order they are written.
struct WaveTags
{
    QString Archive;    // IARL
    QString Engineer;   // IENG: the radiologist's licence number
    QString Name;       // INAM: the accession number
    QString Software;   // ISFT
    QString Source;     // ISRF: the radiologist's group
    QString Comment;    // ICMT
    QString Genre;      // IGNR
};

class WaveFile
{
public:
    // Bytes kept before the data for the tags (a LIST chunk plus a JUNK chunk).
    static constexpr int kTagAreaSize = 1024;
    // Longest text of one tag, in bytes; longer texts are cut.
    static constexpr int kMaxTagBytes = 120;

    WaveFile() = default;
    ~WaveFile();
    WaveFile(const WaveFile &) = delete;
    WaveFile &operator=(const WaveFile &) = delete;

    // Creates (or replaces) an empty file in `format`, open for appending.
    bool Create(const QString &path, const WaveFormat &format);
    // Opens an existing file for appending at the end of its data: repaired when its
    // sizes disagree with its length, rebuilt into the layout above when needed.
    bool OpenAppend(const QString &path);
    // Opens an existing file for reading (repairs it first when it can be written).
    bool OpenRead(const QString &path);
    void Close();
    bool IsOpen() const { return file_.isOpen(); }
    bool Writable() const { return writable_; }
    QString ErrorString() const { return error_; }
    QString Path() const { return file_.fileName(); }

    const WaveFormat &Format() const { return format_; }
    // Bytes of audio data.
    qint64 DataLength() const { return dataLength_; }
    // Read position in the audio data, in bytes.
    qint64 Position() const { return position_; }
    bool Seek(qint64 position);
    // Reads up to `maxBytes` of audio data from the position.
    QByteArray Read(qint64 maxBytes);

    // Appends audio data at the end and brings the header's sizes up to date.
    bool Append(const char *data, qint64 size);
    bool Append(const QByteArray &data) { return Append(data.constData(), data.size()); }
    // Rewrites the header's RIFF and data sizes from what the file holds.
    bool UpdateHeader();
    // Writes the tags into the tag area (replacing what it held).
    bool WriteTags(const WaveTags &tags);

    // The tags a file holds (empty texts when it has none); for checks and the tests.
    static WaveTags ReadTags(const QString &path, bool *found = nullptr);

private:
    struct Chunk
    {
        QByteArray Id;
        qint64 Offset = 0; // of the chunk's header
        qint64 Size = 0;   // of its content, as declared (or repaired)
    };
    bool Parse(bool repair);
    bool Rebuild();
    bool Fail(const QString &message);
    bool WriteAt(qint64 offset, const QByteArray &bytes);

    QFile file_;
    bool writable_ = false;
    QString error_;
    WaveFormat format_;
    qint64 dataOffset_ = 0; // first byte of the audio data
    qint64 dataLength_ = 0;
    qint64 position_ = 0;
    qint64 tagArea_ = -1; // offset of the tag area; -1 when the file has none
    QList<Chunk> chunks_;
};

QByteArray LittleEndian32(quint32 value);
QByteArray LittleEndian16(quint16 value);

} // namespace dictation
