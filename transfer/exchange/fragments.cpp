#include "transfer/exchange/fragments.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace exchange {

namespace {

// Round half to even, as the rate computations ask.
qint64 roundHalfEven(double x)
{
    return qint64(std::nearbyint(x)); // default rounding mode: to nearest, ties to even
}

QString rateText(double minutesPerMillion)
{
    return QString::asprintf("%-5.2f", minutesPerMillion).trimmed();
}

qint64 wholeMinutes(qint64 seconds)
{
    return seconds < 0 ? 0 : seconds / 3600 * 60 + (seconds % 3600) / 60;
}

} // namespace

QStringList fragmentFiles(const QString &folder, const QString &fichierZip, const QStringList &listed)
{
    const QRegularExpression piece(QStringLiteral("^%1\\.zip\\.[0-9]+$").arg(QRegularExpression::escape(fichierZip)),
                                   QRegularExpression::CaseInsensitiveOption);
    QStringList out;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        if (listed.contains(name) || (!fichierZip.isEmpty() && piece.match(name).hasMatch()))
            out << name;
    return fragmentOrder(out);
}

QStringList fragmentOrder(QStringList names)
{
    // Ordinal order of the names, as the server numbers its fragments.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    names.removeDuplicates();
    return names;
}

bool MergeFragments(const QString &folder, const QString &archiveName, const QStringList &listed,
                    MessageSink &messages)
{
    if (archiveName.isEmpty())
        return false;
    const QString path = folder + QLatin1Char('/') + archiveName;
    QFile::remove(path); // the archive is rebuilt from scratch
    QStringList fragments = fragmentOrder(listed);
    fragments.removeAll(archiveName);

    QTemporaryFile out(folder + QStringLiteral("/.strandel-merge-XXXXXX"));
    if (!out.open()) {
        messages.error(QStringLiteral("Erreur: Ouverture du fichier zip ") + path);
        return false;
    }

    int counted = 0;
    bool writeFailed = false;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (const QString &name : fragments) {
        const QString fragmentPath = folder + QLatin1Char('/') + name;
        QFile in(fragmentPath);
        ++counted;
        if (!in.open(QIODevice::ReadOnly)) {
            messages.error(QStringLiteral("Erreur: Ouverture du fichier fragment ") + name);
            QFile::remove(fragmentPath);
            continue;
        }
        for (;;) {
            const qint64 n = in.read(buffer.data(), buffer.size());
            if (n < 0) {
                writeFailed = true; // a fragment that cannot be read whole spoils the archive
                break;
            }
            if (n == 0)
                break;
            if (out.write(buffer.constData(), n) != n) {
                writeFailed = true;
                break;
            }
        }
        in.close();
        if (writeFailed) {
            messages.error(QStringLiteral("Erreur: Écriture du fichier zip ") + path + QStringLiteral(" (")
                           + out.errorString() + QStringLiteral(")\rLe fichier incomplet a été supprimé."));
            return false; // the temporary file goes with `out`; remaining fragments stay
        }
        QFile::remove(fragmentPath);
    }
    if (!out.flush()) {
        messages.error(QStringLiteral("Erreur: Écriture du fichier zip ") + path + QStringLiteral(" (")
                       + out.errorString() + QStringLiteral(")\rLe fichier incomplet a été supprimé."));
        return false;
    }
    if (counted == 0)
        return false;
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(out.fileName()).constData(),
                            QFile::encodeName(path).constData(), ec);
    if (ec) {
        messages.error(QStringLiteral("Erreur: Ouverture du fichier zip ") + path);
        return false;
    }
    out.setAutoRemove(false);
    QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                               | QFileDevice::ReadOther);
    return true;
}

double parseRate(const QString &text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v : 0.0;
}

double EstimatedMinutes(qint64 volume, double rate)
{
    const double m = double(volume) / 1000000.0 * rate;
    return m < 1.0 ? 1.0 : m;
}

QString formatEstimatedMinutes(double minutes)
{
    return QString::asprintf("%-5.0f", minutes);
}

QString DownloadTransferRate(qint64 volume, const QDateTime &start, const QDateTime &end)
{
    const qint64 minutes = qMax<qint64>(1, wholeMinutes(start.secsTo(end)));
    const qint64 millions = roundHalfEven(double(volume) / 1000000.0);
    if (millions == 0)
        return QStringLiteral("1.00");
    return rateText(double(minutes) / double(millions));
}

QString UploadTransferRate(qint64 size, const QTime &start, const QTime &end)
{
    qint64 seconds = start.secsTo(end);
    if (seconds < 0)
        seconds += 24 * 3600;
    const qint64 minutes = qMax<qint64>(1, wholeMinutes(seconds));
    const qint64 millions = roundHalfEven(double(size) / 1000000.0);
    if (millions == 0)
        return QStringLiteral("0.00");
    return rateText(double(minutes) / double(millions));
}

QStringList SplitArchive(const QString &folder, const QString &archiveName, QString *error)
{
    if (archiveName.isEmpty()) {
        *error = QString();
        return {};
    }
    QFile in(folder + QLatin1Char('/') + archiveName);
    if (!in.exists()) {
        *error = QStringLiteral("Le fichier est introuvable:") + folder + QLatin1Char('/') + archiveName;
        return {};
    }
    const qint64 size = in.size();
    if (size == 0 || !in.open(QIODevice::ReadOnly)) {
        *error = size == 0 ? QString() : in.errorString();
        return {};
    }
    QStringList pieces;
    const qint64 count = size / FragmentSize + 1;
    QByteArray buffer(int(FragmentSize), Qt::Uninitialized);
    for (qint64 i = 1; i <= count; ++i) {
        const QString piece = archiveName + QString::asprintf(".%3.3lld", i);
        const qint64 want = i < count ? FragmentSize : size % FragmentSize;
        const qint64 got = want ? in.read(buffer.data(), want) : 0;
        QFile out(folder + QLatin1Char('/') + piece);
        if (got != want || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || out.write(buffer.constData(), want) != want || !out.flush()) {
            *error = QStringLiteral("Erreur d'écriture du fichier : ") + folder + QLatin1Char('/') + piece;
            out.close();
            for (const QString &p : pieces + QStringList{piece})
                QFile::remove(folder + QLatin1Char('/') + p);
            return {};
        }
        pieces << piece;
    }
    return pieces;
}

void DeleteSplitPieces(const QString &folder, const QString &archiveName, MessageSink &messages)
{
    QDir dir(folder);
    if (!dir.exists()) {
        messages.error(QStringLiteral("*** ERROR Exception : FindFirst EffacerLesSplitFiles"));
        return;
    }
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        if (!name.contains(archiveName) || name.right(3).toUpper() == QLatin1String("ZIP"))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        if (!QFile::remove(path))
            messages.error(QStringLiteral("Err. EffacerFichier: ") + path);
    }
}

QString DictationArchiveName(const QString &fichierZip, const QStringList &serverNames)
{
    const QString base = fichierZip + QStringLiteral("_wav");
    auto taken = [&](const QString &name) {
        const QString upper = (name + QStringLiteral(".ZIP")).toUpper();
        for (const QString &s : serverNames)
            if (s.trimmed().toUpper() == upper)
                return true;
        return false;
    };
    if (!taken(base))
        return base + QStringLiteral(".zip");
    // Past 50 the numbering simply goes on: the list is finite, so a free
    // number always comes within serverNames.size() + 1 tries.
    for (int i = 1;; ++i) {
        const QString name = base + QStringLiteral("__") + QString::number(i);
        if (!taken(name))
            return name + QStringLiteral(".zip");
    }
}

QString wavListLine(const QDateTime &modified, qint64 size, const QString &name)
{
    const QString when = modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QStringLiteral("%1 %2 %3")
        .arg(when.left(20), -20)
        .arg(QString::number(size).left(10), 10)
        .arg(name.left(60), -60);
}

QString wavNameFromLine(const QString &line)
{
    return line.mid(32, 60).trimmed();
}

QString pieceListLine(const QString &piece, const QString &path)
{
    return QLatin1Char('[') + piece + QStringLiteral("]  ...  [") + path + QLatin1Char(']');
}

QString pieceFromLine(const QString &line)
{
    const int open = line.indexOf(QLatin1Char('['));
    const int close = line.indexOf(QLatin1Char(']'));
    if (open < 0 || close <= open)
        return QString();
    return line.mid(open + 1, close - open - 1);
}

} // namespace exchange
