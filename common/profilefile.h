#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace common {

// A profile ("INI") file read and written the way the Windows profile
// functions do it, so that files made on a Windows workstation keep working:
//
// - "[section]" lines open sections; "key=value" lines hold values. Section
//   and key names compare without regard to case; the first section and the
//   first key of a given name win.
// - Blanks and tabs around names and values are dropped; a value enclosed in
//   a matching pair of double or single quotes loses them when read. There
//   is no escaping of any kind.
// - Text on disk is Windows-1252.
// - Writing a key replaces only that key's line; a new key goes after the
//   last entry of its section, a new section at the end of the file. Every
//   other line, comment, section and key stays byte for byte as it was,
//   line ends included. New lines end with CR LF.
//
// The file is read once by load() and written by save(); between the two the
// object works on its in-memory copy.
class ProfileFile {
public:
    ProfileFile() = default;
    explicit ProfileFile(const QString &path);

    const QString &path() const { return m_path; }

    // Reads the file. A missing file gives an empty profile and true;
    // a file that exists but cannot be read, or that is not a regular file
    // (a FIFO would hold the program at the open), gives false and
    // errorString().
    bool load();
    // Writes the whole file in one piece (a temporary file renamed over the
    // old one), so a failure never leaves a half-written profile. A name that
    // holds something other than a regular file is refused, and so is a
    // symbolic link when links are refused.
    bool save();
    // Refuses links when saving: the file is written only as a regular file
    // in its own folder (a link there is refused rather than followed).
    void setLinksRefused(bool refused) { m_refuseLinks = refused; }
    QString errorString() const { return m_error; }

    // Parses bytes as a file's content (load() uses it; tests too).
    void parse(const QByteArray &content);
    QByteArray content() const;

    bool hasSection(const QString &section) const;
    QStringList sections() const;
    // Key names of a section in file order (every key line, as the
    // profile functions list them).
    QStringList keys(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;

    QString readString(const QString &section, const QString &key,
                       const QString &defaultValue = QString()) const;
    // Integer reading of the workstation programs: decimal, optionally
    // signed, or hexadecimal with a "$" or "0x" prefix; anything else gives
    // the default.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    // Booleans are integers: any non-zero value is true.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    // Writes value under key. Line breaks inside the value would split the
    // line into new keys, so each CR or LF is written as a blank.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);

    // Removes a key's line (the first of that name); true when one was there.
    bool removeKey(const QString &section, const QString &key);

private:
    struct Line {
        QByteArray raw;     // the line without its end
        QByteArray ending;  // "\r\n", "\n", "\r" or empty for the last line
        enum Kind { Other, Section, Entry } kind = Other;
        QString name;       // section name or key name, trimmed
    };

    int findSection(const QString &section) const;    // index of its header line
    int sectionEnd(int header) const;                 // index after its last line
    int findKey(const QString &section, const QString &key) const;
    static Line makeEntry(const QString &key, const QString &value);
    static Line classify(QByteArray raw, QByteArray ending);

    QString m_path;
    QString m_error;
    QList<Line> m_lines;
    bool m_refuseLinks = false;
};

// Integer conversion of a profile value (see readInteger); ok tells whether
// the text was a number.
int profileInteger(const QString &text, bool *ok);

} // namespace common
