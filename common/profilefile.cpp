#include "common/profilefile.h"

#include "common/cp1252.h"
#include "common/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace common {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QString trimmedText(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    return s.mid(b, e - b);
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

int profileInteger(const QString &text, bool *ok)
{
    QString t = trimmedText(text);
    bool good = false;
    qlonglong v = 0;
    bool negative = false;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        negative = t.startsWith(u'-');
        t.remove(0, 1);
    }
    if (t.startsWith(u'$')) {
        v = t.mid(1).toLongLong(&good, 16);
    } else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        v = t.mid(2).toLongLong(&good, 16);
    } else if (!t.isEmpty() && t[0].isDigit()) {
        v = t.toLongLong(&good, 10);
    }
    if (good && negative)
        v = -v;
    if (good && (v < INT_MIN || v > INT_MAX))
        good = false;
    if (ok)
        *ok = good;
    return good ? int(v) : 0;
}

ProfileFile::ProfileFile(const QString &path)
    : m_path(path)
{
}

bool ProfileFile::load()
{
    m_error.clear();
    m_lines.clear();
    QFile f;
    if (!OpenRegularFile(f, m_path, QIODevice::ReadOnly, &m_error)) {
        if (errno == ENOENT && !QFileInfo(m_path).isSymLink()) {
            m_error.clear();
            return true;
        }
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        m_error = SystemErrorText(EIO);
        return false;
    }
    parse(bytes);
    return true;
}

bool ProfileFile::save()
{
    m_error.clear();
    // QSaveFile writes where a link points, and would replace a FIFO or a device by a
    // file: the name must be a regular file, or nothing yet.
    const QFileInfo target(m_path);
    if (target.isSymLink() && m_refuseLinks) {
        m_error = SystemErrorText(ELOOP);
        return false;
    }
    if (ExistsButNotRegular(m_path) || (target.isSymLink() && !target.exists())) {
        m_error = QStringLiteral("Ce nom ne désigne pas un fichier ordinaire : il n'est pas remplacé.");
        return false;
    }
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) {
        m_error = f.errorString();
        return false;
    }
    const QByteArray bytes = content();
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        m_error = f.errorString();
        return false;
    }
    return true;
}

ProfileFile::Line ProfileFile::classify(QByteArray raw, QByteArray ending)
{
    Line line;
    line.raw = std::move(raw);
    line.ending = std::move(ending);
    const QString text = fromCp1252(line.raw);
    const QString t = trimmedText(text);
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        line.kind = Line::Section;
        line.name = trimmedText(close < 0 ? t.mid(1) : t.mid(1, close - 1));
    } else if (!t.startsWith(u';')) {
        const qsizetype eq = t.indexOf(u'=');
        if (eq > 0) {
            line.kind = Line::Entry;
            line.name = trimmedText(t.left(eq));
        }
    }
    return line;
}

void ProfileFile::parse(const QByteArray &content)
{
    m_lines.clear();
    qsizetype start = 0;
    const qsizetype n = content.size();
    while (start < n) {
        qsizetype i = start;
        while (i < n && content[i] != '\r' && content[i] != '\n')
            ++i;
        QByteArray ending;
        if (i < n) {
            if (content[i] == '\r' && i + 1 < n && content[i + 1] == '\n')
                ending = "\r\n";
            else
                ending = QByteArray(1, content[i]);
        }
        m_lines.append(classify(content.mid(start, i - start), ending));
        start = i + ending.size();
    }
}

QByteArray ProfileFile::content() const
{
    QByteArray out;
    for (const Line &l : m_lines) {
        out += l.raw;
        out += l.ending;
    }
    return out;
}

int ProfileFile::findSection(const QString &section) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == Line::Section && sameName(m_lines[i].name, section))
            return i;
    }
    return -1;
}

int ProfileFile::sectionEnd(int header) const
{
    int i = header + 1;
    while (i < m_lines.size() && m_lines[i].kind != Line::Section)
        ++i;
    return i;
}

int ProfileFile::findKey(const QString &section, const QString &key) const
{
    const int h = findSection(section);
    if (h < 0)
        return -1;
    const int end = sectionEnd(h);
    for (int i = h + 1; i < end; ++i) {
        if (m_lines[i].kind == Line::Entry && sameName(m_lines[i].name, key))
            return i;
    }
    return -1;
}

bool ProfileFile::hasSection(const QString &section) const
{
    return findSection(section) >= 0;
}

QStringList ProfileFile::sections() const
{
    QStringList out;
    for (const Line &l : m_lines) {
        if (l.kind == Line::Section)
            out << l.name;
    }
    return out;
}

QStringList ProfileFile::keys(const QString &section) const
{
    QStringList out;
    const int h = findSection(section);
    if (h < 0)
        return out;
    const int end = sectionEnd(h);
    for (int i = h + 1; i < end; ++i) {
        if (m_lines[i].kind == Line::Entry)
            out << m_lines[i].name;
    }
    return out;
}

bool ProfileFile::contains(const QString &section, const QString &key) const
{
    return findKey(section, key) >= 0;
}

QString ProfileFile::readString(const QString &section, const QString &key,
                                const QString &defaultValue) const
{
    const int i = findKey(section, key);
    if (i < 0)
        return defaultValue;
    const QString text = fromCp1252(m_lines[i].raw);
    QString v = trimmedText(text.mid(text.indexOf(u'=') + 1));
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

int ProfileFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    bool ok = false;
    const int v = profileInteger(readString(section, key), &ok);
    return ok ? v : defaultValue;
}

bool ProfileFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

ProfileFile::Line ProfileFile::makeEntry(const QString &key, const QString &value)
{
    QString v = value;
    v.replace(u'\r', u' ');
    v.replace(u'\n', u' ');
    Line l;
    l.raw = toCp1252(key) + '=' + toCp1252(v);
    l.ending = "\r\n";
    l.kind = Line::Entry;
    l.name = key;
    return l;
}

void ProfileFile::writeString(const QString &section, const QString &key, const QString &value)
{
    Line entry = makeEntry(key, value);
    const int existing = findKey(section, key);
    if (existing >= 0) {
        entry.ending = m_lines[existing].ending.isEmpty() ? QByteArray("\r\n")
                                                          : m_lines[existing].ending;
        m_lines[existing] = entry;
        return;
    }
    // The last line of the file may lack its end; give it one before adding.
    if (!m_lines.isEmpty() && m_lines.last().ending.isEmpty())
        m_lines.last().ending = "\r\n";
    const int h = findSection(section);
    if (h < 0) {
        Line header;
        header.raw = '[' + toCp1252(section) + ']';
        header.ending = "\r\n";
        header.kind = Line::Section;
        header.name = section;
        m_lines.append(header);
        m_lines.append(entry);
        return;
    }
    // After the last non-blank line of the section, so that blank lines
    // separating it from the next section stay where they are.
    int pos = sectionEnd(h);
    while (pos > h + 1 && m_lines[pos - 1].kind == Line::Other
           && std::all_of(m_lines[pos - 1].raw.begin(), m_lines[pos - 1].raw.end(), isBlank))
        --pos;
    m_lines.insert(pos, entry);
}

void ProfileFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void ProfileFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool ProfileFile::removeKey(const QString &section, const QString &key)
{
    const int i = findKey(section, key);
    if (i < 0)
        return false;
    m_lines.removeAt(i);
    return true;
}

} // namespace common
