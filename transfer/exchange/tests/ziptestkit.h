#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Archives for the tests: well-formed encrypted ones written with libarchive,
// and hand-made stored zips whose every header field can be falsified.
namespace ziptest {

struct Entry
{
    QString name;
    QByteArray data;
};

// Deflated, traditional PKWARE encryption when password is not empty.
bool writeZip(const QString &path, const QList<Entry> &entries, const QString &password = QStringLiteral("XK"));

struct RawEntry
{
    QByteArray name;
    QByteArray data;
    quint32 unixMode = 0100644;   // external attributes (made by Unix)
    qint64 declaredSize = -1;     // uncompressed size in the headers; -1: the real one
    bool badCrc = false;          // store a wrong CRC
    qint64 zeros = 0;             // when set: the content is this many zero bytes, deflated (data unused)
};

// Unencrypted, stored or (zeros) deflated, with headers as told.
bool writeRawZip(const QString &path, const QList<RawEntry> &entries);

// A tmpfs of the given size mounted on an empty folder for the life of the
// object, as a small disk that an archive can fill. Needs root (CI runs tests
// as root); otherwise, or when mounting is refused, path is empty and why
// says so.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &mountPoint, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    QString path;
    QString why;
};

QByteArray readAll(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);
// Deterministic bytes that do not compress much.
QByteArray noise(qint64 size, quint32 seed = 1);

// A DICOM media catalogue (explicit VR little endian) with one patient, one
// study and one image record per file ("DICOM/ST1/IM1" names DICOM\ST1\IM1).
// A name that Latin-1 cannot hold is written in UTF-8 (ISO_IR 192).
// undefinedLengths: the record sequence and its items end with delimiters
// instead of lengths; icon: each image record carries an icon sequence.
QByteArray catalogue(const QString &patientName, const QString &accession, const QStringList &files,
                     bool undefinedLengths = false, bool icon = false);

} // namespace ziptest
