#include "ziptestkit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace ziptest {

bool writeZip(const QString &path, const QList<Entry> &entries, const QString &password)
{
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    if (!password.isEmpty()) {
        archive_write_set_options(a, "zip:encryption=zipcrypt");
        archive_write_set_passphrase(a, password.toUtf8().constData());
    }
    QDir().mkpath(QFileInfo(path).path());
    bool ok = archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const Entry &e : entries) {
        if (!ok)
            break;
        archive_entry *en = archive_entry_new();
        archive_entry_set_pathname_utf8(en, e.name.toUtf8().constData());
        const bool dir = e.name.endsWith(QLatin1Char('/'));
        archive_entry_set_filetype(en, dir ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(en, dir ? 0755 : 0644);
        archive_entry_set_size(en, dir ? 0 : e.data.size());
        ok = archive_write_header(a, en) == ARCHIVE_OK;
        if (ok && !dir && !e.data.isEmpty())
            ok = archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size();
        archive_entry_free(en);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

namespace {
void put16(QByteArray &b, quint32 v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
} // namespace

namespace {
// `count` zero bytes as a raw deflate stream, made a piece at a time; their CRC.
QByteArray deflateZeros(qint64 count, quint32 *crc)
{
    const QByteArray piece(1 << 20, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    QByteArray out;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    uLong c = crc32(0, nullptr, 0);
    for (qint64 left = count;;) {
        const qint64 n = qMin<qint64>(left, piece.size());
        c = crc32(c, reinterpret_cast<const Bytef *>(piece.constData()), uInt(n));
        left -= n;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.constData()));
        z.avail_in = uInt(n);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int r = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer.data());
            z.avail_out = uInt(buffer.size());
            r = deflate(&z, flush);
            out.append(buffer.constData(), buffer.size() - qsizetype(z.avail_out));
        } while (z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
        if (left == 0)
            break;
    }
    deflateEnd(&z);
    *crc = quint32(c);
    return out;
}
} // namespace

bool writeRawZip(const QString &path, const QList<RawEntry> &entries)
{
    QByteArray out, central;
    for (const RawEntry &e : entries) {
        const bool deflated = e.zeros > 0;
        quint32 crc = 0;
        const QByteArray data = deflated ? deflateZeros(e.zeros, &crc) : e.data;
        if (!deflated)
            crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(e.data.constData()), uInt(e.data.size())));
        if (e.badCrc)
            crc ^= 0xdeadbeef;
        const quint32 usize = e.declaredSize >= 0 ? quint32(e.declaredSize)
                              : deflated          ? quint32(e.zeros)
                                                  : quint32(e.data.size());
        const quint32 method = deflated ? 8 : 0;
        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, method);
        put16(out, 0);
        put16(out, 0x21);
        put32(out, crc);
        put32(out, quint32(data.size()));
        put32(out, usize);
        put16(out, quint32(e.name.size()));
        put16(out, 0);
        out += e.name;
        out += data;

        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 20); // made by Unix: external attributes hold the mode
        put16(central, 20);
        put16(central, 0);
        put16(central, method);
        put16(central, 0);
        put16(central, 0x21);
        put32(central, crc);
        put32(central, quint32(data.size()));
        put32(central, usize);
        put16(central, quint32(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, e.unixMode << 16);
        put32(central, offset);
        central += e.name;
    }
    const quint32 cdOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    return writeFile(path, out);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray noise(qint64 size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x & 0xff);
    }
    return b;
}

SmallDisk::SmallDisk(const QString &mountPoint, qint64 bytes)
{
    if (geteuid() != 0) {
        why = QStringLiteral("mounting a small file system needs root (CI runs the tests as root)");
        return;
    }
    QDir().mkpath(mountPoint);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData())
        != 0) {
        why = QStringLiteral("cannot mount a tmpfs here: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    path = mountPoint;
}

SmallDisk::~SmallDisk()
{
    if (!path.isEmpty())
        ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

} // namespace ziptest

namespace ziptest {

namespace {

void le16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

void le32(QByteArray &b, quint32 v)
{
    le16(b, quint16(v & 0xFFFF));
    le16(b, quint16(v >> 16));
}

// One explicit VR element with a short length; text padded to even length.
QByteArray element(quint16 group, quint16 elem, const char *vr, QByteArray value)
{
    if (value.size() % 2)
        value.append(qstrcmp(vr, "UI") == 0 ? '\0' : ' ');
    QByteArray b;
    le16(b, group);
    le16(b, elem);
    b.append(vr, 2);
    if (qstrcmp(vr, "OB") == 0 || qstrcmp(vr, "SQ") == 0) {
        le16(b, 0);
        le32(b, quint32(value.size()));
    } else {
        le16(b, quint16(value.size()));
    }
    return b + value;
}

QByteArray sequence(quint16 group, quint16 elem, const QList<QByteArray> &items, bool undefinedLengths)
{
    QByteArray body;
    for (const QByteArray &item : items) {
        le16(body, 0xFFFE);
        le16(body, 0xE000);
        le32(body, undefinedLengths ? 0xFFFFFFFFu : quint32(item.size()));
        body += item;
        if (undefinedLengths) {
            le16(body, 0xFFFE);
            le16(body, 0xE00D);
            le32(body, 0);
        }
    }
    if (undefinedLengths) {
        le16(body, 0xFFFE);
        le16(body, 0xE0DD);
        le32(body, 0);
    }
    QByteArray b;
    le16(b, group);
    le16(b, elem);
    b.append("SQ", 2);
    le16(b, 0);
    le32(b, undefinedLengths ? 0xFFFFFFFFu : quint32(body.size()));
    return b + body;
}

} // namespace

QByteArray catalogue(const QString &patientName, const QString &accession, const QStringList &files,
                     bool undefinedLengths, bool icon)
{
    QByteArray meta = element(0x0002, 0x0001, "OB", QByteArray("\0\1", 2))
                      + element(0x0002, 0x0002, "UI", "1.2.840.10008.1.3.10")
                      + element(0x0002, 0x0003, "UI", "1.2.3.4")
                      + element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    QByteArray out(128, '\0');
    out += "DICM";
    QByteArray length;
    le32(length, quint32(meta.size()));
    out += element(0x0002, 0x0000, "UL", length) + meta;
    QList<QByteArray> records;
    const bool latin = QString::fromLatin1(patientName.toLatin1()) == patientName;
    records << element(0x0004, 0x1430, "CS", "PATIENT")
                   + (latin ? QByteArray() : element(0x0008, 0x0005, "CS", "ISO_IR 192"))
                   + element(0x0010, 0x0010, "PN", latin ? patientName.toLatin1() : patientName.toUtf8())
                   + element(0x0010, 0x0020, "LO", "ID1");
    records << element(0x0004, 0x1430, "CS", "STUDY") + element(0x0008, 0x0050, "SH", accession.toLatin1());
    for (const QString &f : files) {
        QByteArray r = element(0x0004, 0x1430, "CS", "IMAGE");
        if (icon) // an item without a record type, read past
            r += sequence(0x0088, 0x0200, {element(0x0028, 0x0010, "US", QByteArray("\x40\0", 2))
                                           + element(0x0008, 0x0050, "SH", "ICON")},
                          undefinedLengths);
        r += element(0x0004, 0x1500, "CS", QString(f).replace('/', '\\').toLatin1());
        records << r;
    }
    out += element(0x0004, 0x1130, "CS", "KORVANE") + sequence(0x0004, 0x1220, records, undefinedLengths);
    return out;
}

} // namespace ziptest
