#include "transfer/exchange/unpack.h"

#include "common/cp1252.h"
#include "transfer/exchange/catalogue.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace exchange {

QString destinationFolder(const UnpackContext &ctx)
{
    return ctx.repDestination.isEmpty() ? ctx.workingFolder : ctx.repDestination;
}

QString findNoCase(const QString &folder, const QString &name)
{
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList all = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &entry : all)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + entry;
    return QString();
}

namespace {

// Messages name files where the user will find them: the staging folder
// stands for the destination it will be placed in.
struct ShownPath
{
    QString stage;
    QString dest;
    QString operator()(QString path) const
    {
        if (!stage.isEmpty() && path.startsWith(stage))
            path.replace(0, stage.size(), dest);
        return path;
    }
};

bool unpackNestedIn(const QString &folder, const QString &archiveName, const QString &password,
                    MessageSink &messages, ExtractBudget *budget, const ShownPath &shown)
{
    const QString target = archiveName.size() > 4
                               ? folder + QLatin1Char('/') + archiveName.left(archiveName.size() - 4)
                               : folder;
    if (!QDir().mkpath(target)) {
        messages.error(QStringLiteral("Erreur: Le création du répertoire ne fonctionne pas : ") + shown(target));
        return false;
    }
    // One message says where and why. Nothing of a failed visit is placed,
    // so the first failure ends it: a nested bomb is told once, not once per
    // archive it holds.
    const QString path = folder + QLatin1Char('/') + archiveName;
    const ExtractOutcome r = extractZip(path, target, password, budget);
    if (r.code != ExtractOk) {
        messages.error(QStringLiteral("Erreur de décompression du zip : ") + shown(path)
                       + QStringLiteral("\rdans le répertoire : ") + shown(target) + QLatin1Char('\r')
                       + ExtractFailureText(r));
        return false;
    }
    QFile::remove(path);

    const QStringList inner = QDir(target).entryList({QStringLiteral("*.zip")}, QDir::Files,
                                                     QDir::Name | QDir::IgnoreCase);
    for (const QString &zip : inner)
        if (!unpackNestedIn(target, zip, password, messages, budget, shown))
            return false;
    return true;
}

bool sameContent(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (fa.size() != fb.size() || !fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    while (!fa.atEnd()) {
        const QByteArray x = fa.read(1 << 16);
        if (x.isEmpty() || x != fb.read(x.size()))
            return false;
    }
    return fb.atEnd();
}

bool isPlainFolder(const QFileInfo &fi)
{
    return fi.isDir() && !fi.isSymLink();
}

// Names of the folder's entries, read once per folder.
class FolderListings
{
public:
    const QStringList &entries(const QString &folder)
    {
        auto it = m_cache.find(folder);
        if (it == m_cache.end())
            it = m_cache.insert(folder, QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                               | QDir::NoDotAndDotDot));
        return *it;
    }

private:
    QHash<QString, QStringList> m_cache;
};

// The regular file of dest that rel names, looked up as the viewer does:
// as written, else component by component without regard to case.
QString findFileNoCase(const QString &dest, const QString &rel, FolderListings &listings)
{
    QString current = dest;
    for (const QString &part : rel.split(QLatin1Char('/'))) {
        const QString exact = current + QLatin1Char('/') + part;
        if (QFileInfo::exists(exact)) {
            current = exact;
            continue;
        }
        QString found;
        for (const QString &entry : listings.entries(current))
            if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                found = current + QLatin1Char('/') + entry;
                break;
            }
        if (found.isEmpty())
            return QString();
        current = found;
    }
    const QFileInfo fi(current);
    return fi.isFile() && !fi.isSymLink() ? current : QString();
}

// Root-level files of an archive that the transfer client itself manages.
bool isMarkerFile(const QString &rel)
{
    const QString upper = rel.toUpper();
    return !rel.contains(QLatin1Char('/')) && (upper.endsWith(QLatin1String(".OK")) || upper.endsWith(QLatin1String(".OK2")));
}

bool isRootCatalogue(const QString &rel)
{
    return !rel.contains(QLatin1Char('/')) && rel.toUpper().startsWith(QLatin1String("DICOMDIR"));
}

struct Placement
{
    QString from;      // staged file
    QString rel;       // its path in the destination
    bool replaces = false;
    int rank = 0;      // images first, then the catalogue, the markers, "ftp.ok" last
};

struct InstallPlan
{
    QList<Placement> moves;
    QStringList folders;    // staged folders, made in dest when missing (empty ones included)
    QStringList collisions; // files another visit may refer to
    QList<int> owner;       // for each collision, the kept visit that names it (-1: none)
    QStringList blocked;    // a folder or a link stands where a file must go
};

// Which files of the destination a new visit may replace. The kept visits'
// catalogues present in the folder name files that the viewer opens for
// them: those are never replaced by another visit, whatever the setting.
// With visits kept, no file with another content is replaced at all, except
// the files that only the incoming visit's own earlier catalogue names.
struct Protection
{
    bool keepVisits = false;
    int sameVisit = -1; // index in visits of the incoming visit's catalogue
    QList<CatalogueVisit> visits;
    QHash<QString, QList<int>> owners; // upper-cased path -> visits naming it

    void add(const CatalogueVisit &v)
    {
        const int index = int(visits.size());
        visits << v;
        for (const QString &f : v.files) {
            QList<int> &list = owners[f.toUpper()];
            if (!list.contains(index))
                list << index;
        }
    }
    // The visits whose catalogue names rel, as the viewer finds its files:
    // without regard to case, and with ".dcm" appended.
    QList<int> ownersOf(const QString &rel) const
    {
        const QString upper = rel.toUpper();
        QList<int> out = owners.value(upper);
        if (upper.endsWith(QLatin1String(".DCM")))
            for (int i : owners.value(upper.left(upper.size() - 4)))
                if (!out.contains(i))
                    out << i;
        return out;
    }
    bool isKeptCatalogue(const QString &rel) const
    {
        return !rel.contains(QLatin1Char('/')) && rel.toUpper().startsWith(QLatin1String("DICOMDIR."));
    }
    // Whether the existing file at rel, whose content differs, may be replaced;
    // *by is the visit that keeps it (-1 when none names it).
    bool mayReplace(const QString &rel, int *by) const
    {
        const QList<int> named = ownersOf(rel);
        *by = -1;
        for (int i : named)
            if (i != sameVisit) {
                *by = i;
                return false;
            }
        if (isKeptCatalogue(rel))
            return false;
        if (!keepVisits)
            return true;
        return sameVisit >= 0 && !named.isEmpty() && !isRootCatalogue(rel);
    }
};

// What placing the staged tree into dest would do, decided before anything
// moves.
InstallPlan planInstall(const QString &stage, const QString &dest, const Protection &protection)
{
    InstallPlan plan;
    FolderListings listings;
    QDirIterator it(stage, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString rel = QDir(stage).relativeFilePath(from);
        const QString target = dest + QLatin1Char('/') + rel;
        // Every folder on the way must be a plain folder, or not be there yet.
        bool blocked = rel.startsWith(QLatin1String(".strandel-"));
        const QStringList parts = rel.split(QLatin1Char('/'));
        QString prefix = dest;
        for (int i = 0; i + 1 < parts.size() && !blocked; ++i) {
            prefix += QLatin1Char('/') + parts.at(i);
            const QFileInfo fi(prefix);
            if ((fi.exists() || fi.isSymLink()) && !isPlainFolder(fi))
                blocked = true;
        }
        const QFileInfo ti(target);
        if (blocked || ti.isSymLink() || ti.isDir() || (ti.exists() && !ti.isFile())) {
            plan.blocked << rel;
            continue;
        }
        Placement p{from, rel, ti.isFile(),
                    isMarkerFile(rel) ? (rel.compare(QLatin1String("ftp.ok"), Qt::CaseInsensitive) == 0 ? 3 : 2)
                                      : isRootCatalogue(rel) ? 1 : 0};
        const QString existing = ti.isFile() ? target : findFileNoCase(dest, rel, listings);
        if (!existing.isEmpty() && !isMarkerFile(rel)) {
            if (sameContent(existing, from))
                continue; // already there as it should be: left untouched
            int keeper = -1;
            if (!protection.mayReplace(rel, &keeper)) {
                plan.collisions << rel;
                plan.owner << keeper;
                continue;
            }
        }
        plan.moves << p;
    }
    QDirIterator folders(stage, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (folders.hasNext()) {
        const QString rel = QDir(stage).relativeFilePath(folders.next());
        const QFileInfo fi(dest + QLatin1Char('/') + rel);
        if ((fi.exists() || fi.isSymLink()) && !isPlainFolder(fi)) {
            // Named once: by the files it stops, or by itself when it holds none.
            const bool named = std::any_of(plan.blocked.cbegin(), plan.blocked.cend(), [&](const QString &b) {
                return b.startsWith(rel + QLatin1Char('/'));
            });
            if (!named)
                plan.blocked << rel;
        } else {
            plan.folders << rel;
        }
    }
    std::sort(plan.folders.begin(), plan.folders.end());
    std::stable_sort(plan.moves.begin(), plan.moves.end(),
                     [](const Placement &a, const Placement &b) { return a.rank < b.rank; });
    return plan;
}

bool renamePath(const QString &from, const QString &to, QString *why)
{
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData(), ec);
    if (ec && why)
        *why = QString::fromLocal8Bit(ec.message()) + QLatin1String(" : ") + to;
    return !ec;
}

// Places the planned files. A file that is replaced is first set aside in
// `aside` (same file system); when any step fails, every placed file is taken
// back and every replaced one restored, so that dest is left as it was.
bool install(const InstallPlan &plan, const QString &dest, const QString &aside, QString *why)
{
    struct Done
    {
        QString target;
        QString previous; // where the replaced file waits, or empty
    };
    QList<Done> done;
    QStringList madeFolders;
    auto undo = [&] {
        for (auto d = done.crbegin(); d != done.crend(); ++d) {
            QFile::remove(d->target);
            if (!d->previous.isEmpty())
                renamePath(d->previous, d->target, nullptr);
        }
        for (auto f = madeFolders.crbegin(); f != madeFolders.crend(); ++f)
            QDir().rmdir(*f);
        return false;
    };
    for (const Placement &p : plan.moves) {
        const QString target = dest + QLatin1Char('/') + p.rel;
        QString folder = dest;
        const QStringList parts = p.rel.split(QLatin1Char('/'));
        for (int i = 0; i + 1 < parts.size(); ++i) {
            folder += QLatin1Char('/') + parts.at(i);
            if (QFileInfo(folder).isDir())
                continue;
            if (!QDir().mkdir(folder)) {
                if (why)
                    *why = QStringLiteral("création impossible : ") + folder;
                return undo();
            }
            madeFolders << folder;
        }
        Done d{target, QString()};
        if (p.replaces) {
            d.previous = aside + QLatin1Char('/') + QString::number(done.size());
            if (!renamePath(target, d.previous, why))
                return undo();
        }
        if (!renamePath(p.from, target, why)) {
            if (!d.previous.isEmpty())
                renamePath(d.previous, target, nullptr);
            return undo();
        }
        done << d;
    }
    for (const QString &rel : plan.folders) {
        const QString folder = dest + QLatin1Char('/') + rel;
        if (QFileInfo(folder).isDir())
            continue;
        if (!QDir().mkdir(folder)) {
            if (why)
                *why = QStringLiteral("création impossible : ") + folder;
            return undo();
        }
        madeFolders << folder;
    }
    return true;
}

// Names the first file in the way and, when a kept visit holds it, that
// visit, with where the user can delete it.
QString conflictMessage(const InstallPlan &plan, const Protection &protection)
{
    const QStringList &first = plan.collisions.isEmpty() ? plan.blocked : plan.collisions;
    const QString name = QDir::toNativeSeparators(first.first());
    // The visit named is the first kept visit found among the clashing files.
    int keeper = -1;
    for (int i : plan.owner)
        if (i >= 0) {
            keeper = i;
            break;
        }
    QString text = QStringLiteral("ERREUR : Les images reçues n'ont pas été installées.\r\r");
    if (!plan.collisions.isEmpty())
        text += QStringLiteral("Le fichier \"") + name
                + QStringLiteral("\" existe déjà dans le répertoire des images avec un autre contenu.");
    else
        text += QStringLiteral("Le fichier \"") + name
                + QStringLiteral("\" ne peut pas être placé :\run répertoire ou un lien du même nom existe déjà.");
    const int others = int(plan.collisions.size() + plan.blocked.size()) - 1;
    if (others > 0)
        text += QStringLiteral("\r(") + QString::number(others) + QStringLiteral(" autre(s) fichier(s) dans le même cas)");
    text += QStringLiteral("\r\rAucun fichier déjà présent n'a été modifié. Le fichier d'images reste sur le serveur.");
    if (keeper >= 0) {
        const CatalogueVisit &v = protection.visits.at(keeper);
        const QString path = QDir::toNativeSeparators(plan.collisions.at(plan.owner.indexOf(keeper)));
        text += QStringLiteral("\r\rLe fichier \"") + path + QStringLiteral("\" appartient à la visite conservée de ")
                + describeVisit(v)
                + QStringLiteral(".\rCette visite peut être effacée dans KorvaneCD, depuis la fenêtre d'ouverture "
                                 "des visites (bouton \"Effacer\") ;\rtéléchargez ensuite le fichier d'images "
                                 "de nouveau.");
    } else {
        text += QStringLiteral("\r\rAucune visite conservée ne nomme ce fichier : déplacez-le ou effacez-le, "
                               "puis téléchargez le fichier d'images de nouveau.");
    }
    return text;
}

} // namespace

bool UnpackNested(const QString &folder, const QString &archiveName, const QString &password,
                  MessageSink &messages, ExtractBudget *budget)
{
    return unpackNestedIn(folder, archiveName, password, messages, budget, ShownPath{});
}

bool UnpackArchive(const UnpackContext &ctx, const QString &archiveName, const QString &password, bool *conflict)
{
    if (conflict)
        *conflict = false;
    MessageSink &messages = *ctx.messages;
    const QString ftpOk = findNoCase(ctx.workingFolder, QStringLiteral("ftp.ok"));
    if (!ftpOk.isEmpty())
        QFile::remove(ftpOk);

    if (!EnsureZipComponent(messages))
        return false;

    const QString dest = destinationFolder(ctx);
    const QString archivePath = ctx.workingFolder + QLatin1Char('/') + archiveName;
    ExtractBudget budget(ctx.limits, QFileInfo(archivePath).size());

    // The staging folder is ours alone: every level is unpacked there, and it
    // goes (with whatever it still holds) when this function returns.
    QDir().mkpath(dest);
    QTemporaryDir stage(dest + QStringLiteral("/.strandel-visit-XXXXXX"));
    QTemporaryDir aside(dest + QStringLiteral("/.strandel-previous-XXXXXX"));
    if (!stage.isValid() || !aside.isValid()) {
        messages.error(QStringLiteral("Erreur: Le création du répertoire ne fonctionne pas : ") + dest);
        messages.error(QStringLiteral("Erreur de décompression sur le fichier ") + archiveName);
        return false;
    }
    const ShownPath shown{stage.path(), dest};

    if (!ExtractArchive(archivePath, stage.path(), password, messages, &budget, archivePath)) {
        messages.error(QStringLiteral("Erreur de décompression sur le fichier ") + archiveName);
        return false;
    }

    // The listing names the nested archives; without it they would stay
    // packed in a visit that looks complete.
    QStringList entries;
    if (!ListArchive(archivePath, entries, messages))
        return false;

    bool nestedOk = true;
    for (const QString &raw : entries) {
        if (!nestedOk)
            break; // told once: nothing of this visit will be placed
        const QString entry = safeEntryPath(raw);
        if (!entry.endsWith(QLatin1String(".ZIP"), Qt::CaseInsensitive))
            continue;
        if (!ctx.repDestination.isEmpty()) {
            // Nested archives are unpacked in the working folder only: an
            // archive for RepDestination that holds one is refused whole.
            messages.error(QStringLiteral("Erreur : Le fichier zip imbriqué ") + entry
                           + QStringLiteral(" ne peut pas être décompressé dans le répertoire destination : ")
                           + ctx.repDestination);
            nestedOk = false;
        } else if (!QFileInfo(stage.path() + QLatin1Char('/') + entry).isFile()) {
            messages.error(QStringLiteral("Erreur : Le fichier zip imbriqué est introuvable : ") + entry);
            nestedOk = false;
        } else if (!unpackNestedIn(stage.path(), entry, password, messages, &budget, shown)) {
            nestedOk = false;
        }
    }
    if (!nestedOk)
        return false;

    // Every level came out whole: decide what goes where before moving anything.
    Protection protection;
    protection.keepVisits = ctx.keepVisits && ctx.repDestination.isEmpty();
    QString sameCatalogue;
    if (protection.keepVisits) {
        const QString suffix = VisitSuffix(stage.path(), ctx.fichierZip,
                                           ctx.now.isValid() ? ctx.now : QDateTime::currentDateTime());
        sameCatalogue = QFileInfo(findNoCase(dest, QStringLiteral("DICOMDIR.") + suffix)).fileName();
    }
    for (const CatalogueVisit &v : FolderCatalogues(dest, true)) {
        if (!sameCatalogue.isEmpty() && v.catalogue == sameCatalogue)
            protection.sameVisit = int(protection.visits.size());
        protection.add(v);
    }
    const InstallPlan plan = planInstall(stage.path(), dest, protection);
    if (!plan.collisions.isEmpty() || !plan.blocked.isEmpty()) {
        messages.error(conflictMessage(plan, protection));
        if (conflict)
            *conflict = true;
        return false;
    }
    QString why;
    if (!install(plan, dest, aside.path(), &why)) {
        messages.error(QStringLiteral("Erreur : Les images reçues n'ont pas pu être placées dans le répertoire ")
                       + dest + QStringLiteral(".\r") + why);
        messages.error(QStringLiteral("Erreur de décompression sur le fichier ") + archiveName);
        return false;
    }

    if (!ctx.repDestination.isEmpty())
        return true;
    if (findNoCase(ctx.workingFolder, QStringLiteral("ftp.ok")).isEmpty()) {
        messages.error(QStringLiteral(
            "Erreur.\r\rl'absence du fichier \"ftp.ok\" semble indiquer que le fichier\r"
            "d'images reçu a été créé avec une version précédente de StrandelUpload.\r\r"
            "Assurez-vous que le serveur d'images est à jour\r"));
        return false;
    }
    return true;
}

QString VisitSuffix(const QString &workingFolder, const QString &fichierZip, const QDateTime &now)
{
    const QStringList names =
        QDir(workingFolder).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names) {
        if (!name.toUpper().endsWith(QLatin1String(".OK"))
            || name.left(fichierZip.size()).compare(fichierZip, Qt::CaseInsensitive) != 0)
            continue;
        QString suffix;
        QFile f(workingFolder + QLatin1Char('/') + name);
        if (f.size() < 1024 * 1024 && f.open(QIODevice::ReadOnly)) {
            const QStringList lines =
                common::fromCp1252(f.readAll()).split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
            if (lines.size() >= 3)
                suffix = lines.at(2);
        }
        // The suffix becomes part of a file name: no separators, drive
        // letters, control characters or "..", so it cannot leave the folder.
        suffix.remove(QRegularExpression(QStringLiteral("[/\\\\:\\x00-\\x1f\\x7f*?\"<>|]")));
        while (suffix.contains(QLatin1String("..")))
            suffix.replace(QLatin1String(".."), QLatin1String("."));
        suffix = suffix.trimmed();
        if (suffix == QLatin1String("."))
            suffix.clear();
        // An empty suffix would give every such visit the same name
        // "DICOMDIR.", each new one replacing the last: use the time stamp.
        if (!suffix.isEmpty())
            return suffix;
        break;
    }
    return now.toString(QStringLiteral("yyMMddHHmmss"));
}

bool KeepVisitDicomdir(const QString &workingFolder, const QString &suffix, MessageSink &messages)
{
    const QString newName = QStringLiteral("DICOMDIR.") + suffix;
    const QString source = workingFolder + QStringLiteral("/DICOMDIR");
    if (!QFileInfo(source).isFile())
        return false;
    const QString target = workingFolder + QLatin1Char('/') + newName;
    const QString temp = workingFolder + QStringLiteral("/.DICOMDIR.copy");
    QFile::remove(temp);
    bool copied = QFile::copy(source, temp);
    if (copied) {
        if (QFileInfo(target).isFile())
            QFile::remove(target);
        copied = QFile::rename(temp, target);
    }
    if (!copied) {
        QFile::remove(temp);
        messages.error(QStringLiteral("Erreur de copie : DICOMDIR ") + newName);
        return false;
    }
    if (!QFile::remove(source))
        messages.error(QStringLiteral("Pas capable d'effacer le fichier : DICOMDIR"));
    return true;
}

} // namespace exchange
