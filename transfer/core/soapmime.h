#pragma once
// MIME multipart framing of SOAP messages with attachments, as the central
// server writes and reads it: a fixed boundary, the envelope as the root part,
// every part with Content-Length. The writer streams file parts from disk; the
// parser is fed the body chunk by chunk and hands each part's bytes to a sink,
// so attachments can go straight to files.
//
// Shared by the client and the loopback test server.

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace strandel::soap {

inline constexpr char kBoundary[] = "MIME_boundaryB0R9532143182121";
inline constexpr char kRootContentId[] = "<http://www.borland.com/rootpart.xml>";
inline constexpr char kRootContentLocation[] = "http://www.borland.com/rootpart.xml";
inline constexpr char kAttachmentContentType[] = "application/binary";
// The exact text the server compares with the start of Content-Type.
inline constexpr char kMultipartPrefix[] = "multipart/related; boundary=";
inline constexpr int kMaxHeaderLine = 1024;

// The Content-Type header of a message with attachments.
QByteArray multipartContentType();

// A new attachment content id: an upper-case GUID without braces.
QString newContentId();

// Liberal reading of a Content-Type header: true for multipart/*, with the
// boundary (quoted or not) in `boundary`.
bool parseMultipartContentType(const QByteArray &contentType, QByteArray *boundary);
// The server's check of a request's Content-Type: the exact prefix, then an
// unquoted boundary. `why` says what is wrong.
bool checkStrictMultipartContentType(const QByteArray &contentType, QByteArray *boundary, QString *why);

// ---- writing ----------------------------------------------------------------

struct OutgoingPart
{
    QString filePath;    // the part's bytes come from this file...
    QByteArray bytes;    // ...or from here when filePath is empty
    QString contentId;   // without angle brackets
    QByteArray contentType = kAttachmentContentType;
};

// A whole multipart body, read lazily: the envelope and headers in memory,
// attachment bytes from their files. Random access, so it can be rewound.
class MultipartBody : public QIODevice
{
public:
    // Sizes the files now; open() fails (with errorString) when one is missing.
    MultipartBody(const QByteArray &envelope, const QList<OutgoingPart> &parts);
    ~MultipartBody() override;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_total; }
    bool seek(qint64 pos) override;

    // The whole body in memory (for tests and small messages).
    static QByteArray build(const QByteArray &envelope, const QList<OutgoingPart> &parts, QString *error);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    struct Segment
    {
        QByteArray bytes;
        QString filePath;
        qint64 size = 0;
        qint64 start = 0;
    };
    std::vector<Segment> m_segments;
    qint64 m_total = 0;
    qint64 m_pos = 0;
    QString m_setupError;
    QFile *m_file = nullptr;
    int m_fileSegment = -1;
};

// ---- reading ----------------------------------------------------------------

struct PartHeaders
{
    QList<QPair<QByteArray, QByteArray>> headers;
    qint64 contentLength = -1;
    QByteArray value(const QByteArray &name) const; // any case
    QString contentId() const;                      // angle brackets removed
    QString contentLocation() const;
    QByteArray contentType() const;
};

// Receives one part's bytes.
class PartSink
{
public:
    virtual ~PartSink() = default;
    virtual bool write(const char *data, qint64 size, QString *error) = 0;
    virtual bool finish(QString *error) = 0;
};

class MimeParser
{
public:
    struct Options
    {
        // Refuse a part without Content-Length and header lines not split at ": "
        // (the server's rules). Otherwise a part without length ends at the
        // next boundary, and a body ending with the boundary but no closing
        // "--" is accepted.
        bool strict = false;
        int maxParts = 64;
        int maxHeaderBytes = 16 * 1024;
    };
    // Called at the start of every part; returns the sink for its bytes
    // (null refuses the part, with a message in `error`).
    using SinkFactory = std::function<std::unique_ptr<PartSink>(int index, const PartHeaders &, QString *error)>;

    MimeParser(const QByteArray &boundary, SinkFactory factory, Options options);
    MimeParser(const QByteArray &boundary, SinkFactory factory);

    bool feed(const char *data, qint64 size);
    // End of input: true when the closing boundary was seen (or tolerated).
    bool finish();
    QString error() const { return m_error; }
    int partCount() const { return m_parts; }
    bool complete() const { return m_state == State::Epilogue; }

private:
    enum class State { Preamble, AfterBoundary, Headers, BodyCounted, BodyScanned, AfterBody, Epilogue, Failed };
    bool process(bool atEnd);
    bool fail(const QString &why);
    bool startBody();
    bool endPart();

    QByteArray m_delimiter; // "--" + boundary
    SinkFactory m_factory;
    Options m_options;
    State m_state = State::Preamble;
    QByteArray m_buffer;
    PartHeaders m_headers;
    int m_headerBytes = 0;
    std::unique_ptr<PartSink> m_sink;
    qint64 m_remaining = 0;
    int m_parts = 0;
    QString m_error;
};

// A sink that keeps the bytes in memory up to a limit.
class MemorySink : public PartSink
{
public:
    MemorySink(QByteArray *target, qint64 limit) : m_target(target), m_limit(limit) {}
    bool write(const char *data, qint64 size, QString *error) override;
    bool finish(QString *) override { return true; }

private:
    QByteArray *m_target;
    qint64 m_limit;
};

// A sink that writes to a file already open for writing.
class FileSink : public PartSink
{
public:
    explicit FileSink(QIODevice *file) : m_file(file) {}
    bool write(const char *data, qint64 size, QString *error) override;
    bool finish(QString *error) override;

private:
    QIODevice *m_file;
};

} // namespace strandel::soap
