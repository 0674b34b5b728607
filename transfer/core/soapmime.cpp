#include "transfer/core/soapmime.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cstring>

namespace strandel::soap {

QByteArray multipartContentType()
{
    return QByteArray(kMultipartPrefix) + kBoundary;
}

QString newContentId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

bool parseMultipartContentType(const QByteArray &contentType, QByteArray *boundary)
{
    const QList<QByteArray> fields = contentType.split(';');
    if (fields.isEmpty() || !fields.front().trimmed().toLower().startsWith("multipart/"))
        return false;
    for (int i = 1; i < fields.size(); ++i) {
        const QByteArray f = fields[i].trimmed();
        const int eq = f.indexOf('=');
        if (eq < 0 || f.left(eq).trimmed().toLower() != "boundary")
            continue;
        QByteArray b = f.mid(eq + 1).trimmed();
        if (b.size() >= 2 && b.startsWith('"') && b.endsWith('"'))
            b = b.mid(1, b.size() - 2);
        if (b.isEmpty() || b.size() > 200)
            return false;
        *boundary = b;
        return true;
    }
    return false;
}

bool checkStrictMultipartContentType(const QByteArray &contentType, QByteArray *boundary, QString *why)
{
    const QByteArray prefix(kMultipartPrefix);
    if (!contentType.startsWith(prefix)) {
        *why = QStringLiteral("Content-Type ne commence pas par \"%1\"").arg(QLatin1String(prefix));
        return false;
    }
    QByteArray b = contentType.mid(prefix.size());
    const int semi = b.indexOf(';');
    if (semi >= 0)
        b = b.left(semi);
    b = b.trimmed();
    if (b.startsWith('"')) {
        *why = QStringLiteral("frontière MIME entre guillemets");
        return false;
    }
    if (b.isEmpty()) {
        *why = QStringLiteral("frontière MIME absente");
        return false;
    }
    *boundary = b;
    return true;
}

// ---- writing ----------------------------------------------------------------

MultipartBody::MultipartBody(const QByteArray &envelope, const QList<OutgoingPart> &parts)
{
    const QByteArray dash = QByteArray("--") + kBoundary;
    auto addBytes = [this](const QByteArray &b) {
        Segment s;
        s.bytes = b;
        s.size = b.size();
        s.start = m_total;
        m_total += s.size;
        m_segments.push_back(std::move(s));
    };
    QByteArray head = dash + "\r\n";
    head += "Content-Type: text/xml\r\n";
    head += QByteArray("Content-ID: ") + kRootContentId + "\r\n";
    head += QByteArray("Content-Location: ") + kRootContentLocation + "\r\n";
    head += "Content-Length: " + QByteArray::number(envelope.size()) + "\r\n\r\n";
    addBytes(head + envelope);
    for (const OutgoingPart &p : parts) {
        qint64 size = p.bytes.size();
        if (!p.filePath.isEmpty()) {
            QFileInfo info(p.filePath);
            if (!info.isFile() && m_setupError.isEmpty())
                m_setupError = QStringLiteral("Fichier à joindre introuvable : %1").arg(p.filePath);
            size = info.size();
        }
        QByteArray h = "\r\n" + dash + "\r\n";
        h += "Content-ID: <" + p.contentId.toLatin1() + ">\r\n";
        h += "Content-Length: " + QByteArray::number(size) + "\r\n";
        h += "Content-Type: " + p.contentType + "\r\n";
        h += "Content-transfer-encoding: 8bit\r\n\r\n";
        addBytes(h);
        if (p.filePath.isEmpty()) {
            addBytes(p.bytes);
        } else {
            Segment s;
            s.filePath = p.filePath;
            s.size = size;
            s.start = m_total;
            m_total += size;
            m_segments.push_back(std::move(s));
        }
    }
    addBytes("\r\n" + dash + "--\r\n");
}

MultipartBody::~MultipartBody()
{
    delete m_file;
}

bool MultipartBody::open(OpenMode mode)
{
    if (!m_setupError.isEmpty()) {
        setErrorString(m_setupError);
        return false;
    }
    if ((mode & ReadWrite) != ReadOnly)
        return false;
    m_pos = 0;
    return QIODevice::open(ReadOnly | Unbuffered);
}

void MultipartBody::close()
{
    delete m_file;
    m_file = nullptr;
    m_fileSegment = -1;
    QIODevice::close();
}

bool MultipartBody::seek(qint64 pos)
{
    if (pos < 0 || pos > m_total)
        return false;
    m_pos = pos;
    return QIODevice::seek(pos);
}

qint64 MultipartBody::readData(char *data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize && m_pos < m_total) {
        int i = 0;
        while (i + 1 < int(m_segments.size()) && m_segments[i + 1].start <= m_pos)
            ++i;
        const Segment &s = m_segments[i];
        const qint64 offset = m_pos - s.start;
        const qint64 want = qMin(maxSize - done, s.size - offset);
        if (want <= 0) {
            // An empty segment: step over it.
            if (i + 1 >= int(m_segments.size()))
                break;
            continue;
        }
        if (s.filePath.isEmpty()) {
            std::memcpy(data + done, s.bytes.constData() + offset, size_t(want));
        } else {
            if (m_fileSegment != i) {
                delete m_file;
                m_file = new QFile(s.filePath);
                m_fileSegment = i;
                if (!m_file->open(QIODevice::ReadOnly)) {
                    setErrorString(QStringLiteral("Lecture impossible : %1").arg(s.filePath));
                    return -1;
                }
            }
            if (!m_file->seek(offset)) {
                setErrorString(QStringLiteral("Lecture impossible : %1").arg(s.filePath));
                return -1;
            }
            const qint64 got = m_file->read(data + done, want);
            if (got != want) {
                // The file shrank after it was sized: the framing would lie.
                setErrorString(QStringLiteral("Fichier modifié pendant l'envoi : %1").arg(s.filePath));
                return -1;
            }
        }
        done += want;
        m_pos += want;
    }
    return done;
}

QByteArray MultipartBody::build(const QByteArray &envelope, const QList<OutgoingPart> &parts, QString *error)
{
    MultipartBody body(envelope, parts);
    if (!body.open(ReadOnly)) {
        if (error)
            *error = body.errorString();
        return {};
    }
    QByteArray all = body.readAll();
    if (all.size() != body.size() && error)
        *error = body.errorString();
    return all;
}

// ---- reading ----------------------------------------------------------------

QByteArray PartHeaders::value(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

static QString stripAngles(QByteArray v)
{
    v = v.trimmed();
    if (v.startsWith('<') && v.endsWith('>'))
        v = v.mid(1, v.size() - 2);
    return QString::fromLatin1(v);
}

QString PartHeaders::contentId() const
{
    return stripAngles(value("Content-ID"));
}

QString PartHeaders::contentLocation() const
{
    return QString::fromLatin1(value("Content-Location").trimmed());
}

QByteArray PartHeaders::contentType() const
{
    return value("Content-Type").trimmed();
}

MimeParser::MimeParser(const QByteArray &boundary, SinkFactory factory, Options options)
    : m_delimiter("--" + boundary), m_factory(std::move(factory)), m_options(options)
{
}

MimeParser::MimeParser(const QByteArray &boundary, SinkFactory factory)
    : MimeParser(boundary, std::move(factory), Options{})
{
}

bool MimeParser::fail(const QString &why)
{
    if (m_state != State::Failed) {
        m_error = why;
        m_state = State::Failed;
    }
    m_sink.reset();
    m_buffer.clear();
    return false;
}

bool MimeParser::feed(const char *data, qint64 size)
{
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Epilogue)
        return true;
    m_buffer.append(data, size);
    return process(false);
}

bool MimeParser::finish()
{
    if (m_state == State::Failed)
        return false;
    if (!process(true))
        return false;
    if (m_state == State::Epilogue)
        return true;
    if (!m_options.strict && m_state == State::AfterBoundary && m_buffer.trimmed().isEmpty() && m_parts > 0) {
        // Ended with a boundary but without the closing "--": tolerated.
        m_state = State::Epilogue;
        return true;
    }
    if (!m_options.strict && m_state == State::BodyScanned) {
        return fail(QStringLiteral("Message multipart tronqué : frontière finale absente"));
    }
    if (m_state == State::BodyCounted)
        return fail(QStringLiteral("Message multipart tronqué : partie plus courte que son Content-Length"));
    return fail(QStringLiteral("Message multipart tronqué : frontière finale absente"));
}

bool MimeParser::startBody()
{
    if (++m_parts > m_options.maxParts)
        return fail(QStringLiteral("Message multipart : trop de parties"));
    QString why;
    m_sink = m_factory(m_parts - 1, m_headers, &why);
    if (!m_sink)
        return fail(why.isEmpty() ? QStringLiteral("Partie MIME refusée") : why);
    if (m_headers.contentLength >= 0) {
        m_remaining = m_headers.contentLength;
        m_state = State::BodyCounted;
    } else if (m_options.strict) {
        return fail(QStringLiteral("Partie MIME sans Content-Length"));
    } else {
        m_state = State::BodyScanned;
    }
    return true;
}

bool MimeParser::endPart()
{
    QString why;
    const bool ok = m_sink->finish(&why);
    m_sink.reset();
    if (!ok)
        return fail(why);
    m_state = State::AfterBody;
    return true;
}

bool MimeParser::process(bool atEnd)
{
    const QByteArray crlfDelimiter = "\r\n" + m_delimiter;
    qint64 pos = 0; // consumed bytes of m_buffer
    auto consumed = [&]() { m_buffer.remove(0, pos); pos = 0; };
    for (;;) {
        const qint64 avail = m_buffer.size() - pos;
        switch (m_state) {
        case State::Failed:
            return false;
        case State::Epilogue:
            m_buffer.clear();
            return true;
        case State::Preamble: {
            if (m_buffer.startsWith(m_delimiter)) {
                pos = m_delimiter.size();
            } else {
                const qint64 i = m_buffer.indexOf(crlfDelimiter);
                if (i < 0) {
                    // Keep just enough to find a delimiter cut between two chunks.
                    if (m_buffer.size() > crlfDelimiter.size())
                        m_buffer.remove(0, m_buffer.size() - crlfDelimiter.size());
                    return true;
                }
                pos = i + crlfDelimiter.size();
            }
            consumed();
            m_state = State::AfterBoundary;
            break;
        }
        case State::AfterBoundary: {
            if (avail < 2) {
                consumed();
                return true;
            }
            const char *p = m_buffer.constData() + pos;
            if (p[0] == '-' && p[1] == '-') {
                m_state = State::Epilogue;
                m_buffer.clear();
                return true;
            }
            if (p[0] == '\r' && p[1] == '\n') {
                pos += 2;
            } else if (!m_options.strict && p[0] == '\n') {
                pos += 1;
            } else {
                return fail(QStringLiteral("Message multipart mal formé après la frontière"));
            }
            m_headers = PartHeaders();
            m_headerBytes = 0;
            m_state = State::Headers;
            break;
        }
        case State::Headers: {
            const qint64 nl = m_buffer.indexOf('\n', pos);
            if (nl < 0) {
                if (avail > kMaxHeaderLine + 2)
                    return fail(QStringLiteral("Ligne d'en-tête MIME trop longue"));
                consumed();
                return true;
            }
            qint64 end = nl;
            if (end > pos && m_buffer[end - 1] == '\r')
                --end;
            else if (m_options.strict)
                return fail(QStringLiteral("Ligne d'en-tête MIME sans CRLF"));
            const QByteArray line = m_buffer.mid(pos, end - pos);
            m_headerBytes += int(nl + 1 - pos);
            pos = nl + 1;
            if (line.size() > kMaxHeaderLine)
                return fail(QStringLiteral("Ligne d'en-tête MIME trop longue"));
            if (m_headerBytes > m_options.maxHeaderBytes)
                return fail(QStringLiteral("En-têtes MIME trop longs"));
            if (line.isEmpty()) {
                consumed();
                if (!startBody())
                    return false;
                break;
            }
            QByteArray name, value;
            const int sep = line.indexOf(": ");
            if (sep > 0) {
                name = line.left(sep);
                value = line.mid(sep + 2);
            } else if (m_options.strict) {
                return fail(QStringLiteral("En-tête MIME non séparé par \": \" : %1")
                                .arg(QString::fromLatin1(line.left(80))));
            } else {
                const int colon = line.indexOf(':');
                if (colon <= 0)
                    return fail(QStringLiteral("En-tête MIME illisible"));
                name = line.left(colon).trimmed();
                value = line.mid(colon + 1).trimmed();
            }
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                bool ok = false;
                const QByteArray t = value.trimmed();
                const qint64 n = t.toLongLong(&ok);
                if (!ok || n < 0 || t.startsWith('+'))
                    return fail(QStringLiteral("Content-Length de partie MIME invalide"));
                m_headers.contentLength = n;
            }
            m_headers.headers.append({name, value});
            break;
        }
        case State::BodyCounted: {
            const qint64 n = qMin(avail, m_remaining);
            if (n > 0) {
                QString why;
                if (!m_sink->write(m_buffer.constData() + pos, n, &why))
                    return fail(why);
                pos += n;
                m_remaining -= n;
            }
            if (m_remaining > 0) {
                consumed();
                return true;
            }
            if (!endPart())
                return false;
            break;
        }
        case State::AfterBody: {
            if (avail < crlfDelimiter.size()) {
                if (atEnd && !m_options.strict && avail == 0)
                    return fail(QStringLiteral("Message multipart tronqué : frontière absente après une partie"));
                consumed();
                return true;
            }
            if (std::memcmp(m_buffer.constData() + pos, crlfDelimiter.constData(), size_t(crlfDelimiter.size())) != 0)
                return fail(QStringLiteral("Partie MIME plus longue que son Content-Length"));
            pos += crlfDelimiter.size();
            m_state = State::AfterBoundary;
            break;
        }
        case State::BodyScanned: {
            const qint64 i = m_buffer.indexOf(crlfDelimiter, pos);
            QString why;
            if (i >= 0) {
                if (!m_sink->write(m_buffer.constData() + pos, i - pos, &why))
                    return fail(why);
                pos = i;
                if (!endPart())
                    return false;
                break;
            }
            const qint64 keep = crlfDelimiter.size() - 1;
            if (avail > keep) {
                if (!m_sink->write(m_buffer.constData() + pos, avail - keep, &why))
                    return fail(why);
                pos += avail - keep;
            }
            consumed();
            return true;
        }
        }
    }
}

bool MemorySink::write(const char *data, qint64 size, QString *error)
{
    if (m_target->size() + size > m_limit) {
        *error = QStringLiteral("Réponse XML trop volumineuse (plus de %1 octets)").arg(m_limit);
        return false;
    }
    m_target->append(data, size);
    return true;
}

bool FileSink::write(const char *data, qint64 size, QString *error)
{
    if (m_file->write(data, size) != size) {
        *error = QStringLiteral("Écriture impossible de la pièce jointe : %1").arg(m_file->errorString());
        return false;
    }
    return true;
}

bool FileSink::finish(QString *error)
{
    if (auto *f = qobject_cast<QFile *>(m_file)) {
        if (!f->flush()) {
            *error = QStringLiteral("Écriture impossible de la pièce jointe : %1").arg(f->errorString());
            return false;
        }
    }
    return true;
}

} // namespace strandel::soap
