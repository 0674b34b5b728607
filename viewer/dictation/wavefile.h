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
// Never losing a dictation:
// - The RIFF and data sizes are rewritten after every appended buffer, so a killed process
//   leaves a valid file holding everything up to the last completed buffer.
// - Every write, size change, synchronisation and close is checked. A write that fails
//   (disk full, size limit, input-output error) keeps what reached the disk in whole sample
//   blocks, brings the header to it, and refuses any further write: the caller stops.
// - Reading never writes. Only a file opened for appending is brought to the layout above,
//   and never by removing audio: sizes left stale by a crash are brought up to what the
//   file holds, a half-written sample block is completed, and a rebuild carries every chunk
//   and every audio byte over. A file whose layout cannot be understood is not touched.
// - Written files are opened only as regular files in their folder, never through a link;
//   nothing is ever opened that could block (a FIFO).

#include <QByteArray>
#include <QList>
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
    // The sub-format of an extensible format (0xFFFE): 1 for PCM; 0 when the file has none.
    quint16 SubFormat = 0;

    // PCM, 1 channel, 11,025 samples per second, 16 bits.
    static WaveFormat Recording() { return {}; }
    static WaveFormat Pcm(int channels, int sampleRate, int bits);
    bool IsPcm() const { return FormatTag == 1 || (FormatTag == 0xFFFE && SubFormat == 1); }
    bool operator==(const WaveFormat &) const = default;
};

// Why a file of `format` cannot be played (or, `forRecording`, recorded and appended to):
// not PCM, or a rate, channel count, resolution or block size outside what PCM allows or
// not matching each other. Empty when it can. A French sentence for the user.
QString FormatProblem(const WaveFormat &format, bool forRecording);

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
    // Opens an existing file for appending at the end of its data, in its own format. Sizes
    // left stale by a crash are brought up to what the file holds; another layout is
    // rebuilt into the one above. Refused, the file untouched, when its layout cannot be
    // understood or its format cannot be recorded (FormatProblem).
    bool OpenAppend(const QString &path);
    // Opens an existing file for reading; never writes to it. Refused when no audio can be
    // found or the format cannot be played.
    bool OpenRead(const QString &path);
    // Closes the file; for a written file the header is brought up to date and the data
    // synchronised to the disk first. False (ErrorString) when any of it failed.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool Writable() const { return writable_; }
    // A write failed: the file holds what was written before, nothing more is written.
    bool Failed() const { return failed_; }
    QString ErrorString() const { return error_; }
    QString Path() const { return path_; }

    const WaveFormat &Format() const { return format_; }
    // Bytes of audio data, in whole sample blocks.
    qint64 DataLength() const { return dataLength_; }
    // Read position in the audio data, in bytes.
    qint64 Position() const { return position_; }
    bool Seek(qint64 position);
    // Reads up to `maxBytes` of audio data from the position.
    QByteArray Read(qint64 maxBytes);

    // Appends audio data at the end and brings the header's sizes up to date. On a failed
    // write the whole blocks that reached the disk are kept, the header says so, and this
    // and every later call answer false.
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
        qint64 Size = 0;   // of its content, as declared (for the data: what the file holds)
    };
    bool Open(const QString &path, bool write);
    // Reads the layout without writing anything.
    bool Parse();
    bool LooksLikeChunk(qint64 offset, qint64 length);
    // A chunk that looks whole and bears a name WAV files use.
    bool KnownChunk(qint64 offset, qint64 length);
    bool Rebuild();
    bool Fail(const QString &message);
    // Writes all of `size` bytes at `offset`; answers the bytes written, with errno set
    // when short.
    qint64 WriteAt(qint64 offset, const char *data, qint64 size);
    bool WriteAt(qint64 offset, const QByteArray &bytes);
    QByteArray ReadAt(qint64 offset, qint64 size);
    qint64 FileSize() const;
    // A write failed: keep what is known good, then refuse further writes.
    bool WriteFailed(int code);

    int fd_ = -1;
    QString path_;
    bool writable_ = false;
    bool failed_ = false;
    QString error_;
    WaveFormat format_;
    qint64 dataOffset_ = 0; // first byte of the audio data
    qint64 dataLength_ = 0;
    qint64 dataBytes_ = 0;  // bytes the data chunk holds, a half-written block included
    qint64 declaredData_ = 0;
    qint64 position_ = 0;
    qint64 tagArea_ = -1; // offset of the tag area; -1 when the file has none
    int dataIndex_ = -1;
    bool understood_ = false; // every chunk found whole, to the end of the file
    QList<Chunk> chunks_;
};

QByteArray LittleEndian32(quint32 value);
QByteArray LittleEndian16(quint16 value);

} // namespace dictation
