#include "transfer/exchange/catalogue.h"

#include "common/cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace exchange {

namespace {

constexpr quint32 kUndefined = 0xFFFFFFFFu;
constexpr qint64 kMaxCatalogueBytes = 256LL * 1024 * 1024;
constexpr int kMaxDepth = 16;

constexpr quint32 tag(quint16 group, quint16 element)
{
    return quint32(group) << 16 | element;
}

// A catalogue walked element by element. Directory records are the items of
// the record sequence; the attributes the transfer client needs are taken
// from each record, and nested items (icons, content) are read past.
class CatalogueReader
{
public:
    CatalogueReader(const QByteArray &bytes, CatalogueVisit *visit) : m_d(bytes), m_visit(visit) {}

    bool read()
    {
        if (m_d.size() < 132 || m_d.mid(128, 4) != "DICM")
            return false;
        // The file meta information: always explicit VR little endian.
        qint64 pos = 132;
        QByteArray syntax;
        while (pos + 8 <= m_d.size() && u16(pos) == 0x0002) {
            const quint32 t = tag(u16(pos), u16(pos + 2));
            qint64 valuePos = 0;
            quint32 length = 0;
            if (!header(pos, true, &valuePos, &length, nullptr) || length == kUndefined
                || valuePos + length > m_d.size())
                return false;
            if (t == tag(0x0002, 0x0010))
                syntax = m_d.mid(valuePos, length);
            pos = valuePos + length;
        }
        while (syntax.endsWith('\0') || syntax.endsWith(' '))
            syntax.chop(1);
        if (syntax == "1.2.840.10008.1.2")
            m_explicit = false;
        else if (syntax != "1.2.840.10008.1.2.1" && !syntax.isEmpty())
            return false; // big endian or deflated: not a catalogue the viewer reads
        qint64 stop = 0;
        return elements(pos, m_d.size(), false, 0, &stop);
    }

private:
    struct Record
    {
        QString type, name, id, accession;
        QStringList file;
    };

    quint16 u16(qint64 p) const
    {
        return quint16(uchar(m_d[p])) | quint16(uchar(m_d[p + 1])) << 8;
    }
    quint32 u32(qint64 p) const { return quint32(u16(p)) | quint32(u16(p + 2)) << 16; }

    // Reads one element header at pos: where its value starts, its length and
    // whether it is a sequence.
    bool header(qint64 pos, bool explicitVR, qint64 *valuePos, quint32 *length, bool *sequence) const
    {
        if (pos + 8 > m_d.size())
            return false;
        const quint32 t = tag(u16(pos), u16(pos + 2));
        bool seq = false;
        if (explicitVR) {
            const QByteArray vr = m_d.mid(pos + 4, 2);
            static const QList<QByteArray> longForm{"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                                    "SV", "UC", "UN", "UR", "UT", "UV"};
            if (longForm.contains(vr)) {
                if (pos + 12 > m_d.size())
                    return false;
                *length = u32(pos + 8);
                *valuePos = pos + 12;
            } else {
                *length = u16(pos + 6);
                *valuePos = pos + 8;
            }
            seq = vr == "SQ" || (vr == "UN" && *length == kUndefined);
        } else {
            *length = u32(pos + 4);
            *valuePos = pos + 8;
            seq = t == tag(0x0004, 0x1220) || *length == kUndefined;
        }
        if (sequence)
            *sequence = seq;
        return true;
    }

    QString text(qint64 pos, quint32 length) const
    {
        QByteArray v = m_d.mid(pos, length);
        while (v.endsWith('\0') || v.endsWith(' '))
            v.chop(1);
        return (m_utf8 ? QString::fromUtf8(v) : common::fromCp1252(v)).trimmed();
    }

    void value(quint32 t, qint64 pos, quint32 length)
    {
        // The character set comes before the names it applies to (tags
        // ascend), in the catalogue or in a record.
        if (t == tag(0x0008, 0x0005))
            m_utf8 = m_d.mid(pos, length).contains("ISO_IR 192");
        if (m_records.empty())
            return;
        Record &r = m_records.back();
        switch (t) {
        case tag(0x0004, 0x1430): r.type = text(pos, length).toUpper(); break;
        case tag(0x0010, 0x0010): r.name = text(pos, length); break;
        case tag(0x0010, 0x0020): r.id = text(pos, length); break;
        case tag(0x0008, 0x0050): r.accession = text(pos, length); break;
        case tag(0x0004, 0x1500): {
            r.file.clear();
            for (const QString &c : text(pos, length).split(QLatin1Char('\\')))
                if (!c.trimmed().isEmpty())
                    r.file << c.trimmed();
            break;
        }
        default: break;
        }
    }

    void commit(const Record &r)
    {
        if (r.type.isEmpty())
            return; // an item inside a record (icon, content), not a record
        if (r.type == QLatin1String("PATIENT") && m_visit->patientName.isEmpty() && m_visit->patientId.isEmpty()) {
            m_visit->patientName = QString(r.name).replace(QLatin1Char('^'), QLatin1Char(' ')).simplified();
            m_visit->patientId = r.id;
        }
        if (r.type == QLatin1String("STUDY") && !r.accession.isEmpty() && !m_visit->accessions.contains(r.accession))
            m_visit->accessions << r.accession;
        if (!r.file.isEmpty())
            m_visit->files << r.file.join(QLatin1Char('/'));
    }

    // Elements from pos up to end; with toItemEnd, up to the item delimiter.
    bool elements(qint64 pos, qint64 end, bool toItemEnd, int depth, qint64 *stop)
    {
        while (pos < end) {
            if (pos + 8 > end)
                return false;
            const quint16 group = u16(pos);
            if (group == 0xFFFE) {
                if (u16(pos + 2) == 0xE00D && toItemEnd) {
                    *stop = pos + 8;
                    return true;
                }
                return false;
            }
            const quint32 t = tag(group, u16(pos + 2));
            qint64 valuePos = 0;
            quint32 length = 0;
            bool sequence = false;
            if (!header(pos, m_explicit, &valuePos, &length, &sequence))
                return false;
            if (sequence) {
                if (!items(valuePos, length, depth + 1, &pos))
                    return false;
                continue;
            }
            if (length == kUndefined || valuePos + length > end)
                return false;
            value(t, valuePos, length);
            pos = valuePos + length;
        }
        *stop = pos;
        return !toItemEnd;
    }

    bool items(qint64 pos, quint32 length, int depth, qint64 *after)
    {
        if (depth > kMaxDepth)
            return false;
        const bool undefinedLength = length == kUndefined;
        const qint64 end = undefinedLength ? m_d.size() : pos + length;
        if (end > m_d.size())
            return false;
        while (pos < end) {
            if (pos + 8 > end || u16(pos) != 0xFFFE)
                return false;
            const quint16 element = u16(pos + 2);
            const quint32 itemLength = u32(pos + 4);
            pos += 8;
            if (element == 0xE0DD) {
                if (!undefinedLength)
                    return false;
                *after = pos;
                return true;
            }
            if (element != 0xE000)
                return false;
            m_records.push_back({});
            qint64 stop = 0;
            bool ok;
            if (itemLength == kUndefined) {
                ok = elements(pos, end, true, depth, &stop);
            } else {
                ok = pos + itemLength <= end && elements(pos, pos + itemLength, false, depth, &stop);
                stop = pos + itemLength;
            }
            const Record r = m_records.back();
            m_records.pop_back();
            if (!ok)
                return false;
            commit(r);
            pos = stop;
        }
        if (undefinedLength)
            return false; // no sequence delimiter before the end of the file
        *after = end;
        return true;
    }

    const QByteArray &m_d;
    CatalogueVisit *m_visit;
    bool m_explicit = true;
    bool m_utf8 = false; // Specific Character Set ISO_IR 192; else Latin texts
    std::vector<Record> m_records;
};

} // namespace

bool ReadCatalogue(const QString &path, CatalogueVisit *visit)
{
    *visit = CatalogueVisit{};
    visit->catalogue = QFileInfo(path).fileName();
    const QFileInfo fi(path);
    if (!fi.isFile() || fi.size() > kMaxCatalogueBytes)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.read(kMaxCatalogueBytes + 1);
    if (bytes.size() != fi.size() || bytes.size() > kMaxCatalogueBytes)
        return false;
    return CatalogueReader(bytes, visit).read();
}

QList<CatalogueVisit> FolderCatalogues(const QString &folder, bool keptOnly)
{
    QList<CatalogueVisit> out;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString upper = name.toUpper();
        const bool kept = upper.startsWith(QLatin1String("DICOMDIR."));
        if (!kept && (keptOnly || upper != QLatin1String("DICOMDIR")))
            continue;
        CatalogueVisit visit;
        if (ReadCatalogue(folder + QLatin1Char('/') + name, &visit))
            out << visit;
    }
    return out;
}

QString describeVisit(const CatalogueVisit &visit)
{
    QString text = visit.patientName.isEmpty() ? QStringLiteral("(patient sans nom)") : visit.patientName;
    QStringList details;
    if (!visit.accessions.isEmpty())
        details << QStringLiteral("accession ") + visit.accessions.join(QStringLiteral(", "));
    details << QStringLiteral("catalogue ") + visit.catalogue;
    return text + QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
}

} // namespace exchange
