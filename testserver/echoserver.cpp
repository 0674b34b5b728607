#include "testserver/echoserver.h"

#include "testserver/ziparchive.h"
#include "transfer/core/soapmime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace testserver {

using namespace strandel;

bool parseUser(const QString &text, User *user)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty())
        return false;
    *user = {parts[0], parts[1], parts[2]};
    return true;
}

EchoServer::EchoServer(const QString &root, const QString &alias, const QList<User> &users)
    : m_root(QDir(root).absolutePath()), m_alias(alias), m_users(users)
{
    QDir r(m_root);
    for (const char *sub : {"users", "studies", "updates", "tmp"})
        r.mkpath(QLatin1String(sub));
    for (const User &u : m_users) {
        r.mkpath(QStringLiteral("users/%1/dictees").arg(u.fichierZip));
    }
}

// ---- helpers -------------------------------------------------------------------

namespace {

void log(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

std::string s(const QByteArray &b) { return std::string(b.constData(), size_t(b.size())); }

bool plainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

void sendFault(httplib::Response &res, const QString &text, int status = 500, const QString &detail = {})
{
    res.status = status;
    res.set_content(s(soap::faultEnvelope(text, {}, detail)), "text/xml; charset=utf-8");
}

// A body written by a content provider from a shared byte source.
void sendProvided(httplib::Response &res, int status, const std::string &contentType, size_t declared,
                  std::function<bool(size_t offset, size_t length, httplib::DataSink &)> provider)
{
    res.status = status;
    res.set_content_provider(declared, contentType, std::move(provider));
}

QByteArray multipartHead(const QByteArray &envelope)
{
    QByteArray h = QByteArray("--") + soap::kBoundary + "\r\n";
    h += "Content-Type: text/xml\r\n";
    h += QByteArray("Content-ID: ") + soap::kRootContentId + "\r\n";
    h += QByteArray("Content-Location: ") + soap::kRootContentLocation + "\r\n";
    h += "Content-Length: " + QByteArray::number(envelope.size()) + "\r\n\r\n";
    return h + envelope;
}

std::string responseMultipartType()
{
    return s(soap::multipartContentType() + "; start=\"" + soap::kRootContentId + "\"; type=\"text/xml\"");
}

QByteArray alternatePrefixes(QByteArray xml)
{
    xml.replace("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", "");
    xml.replace("SOAP-ENV:", "soap:");
    xml.replace("xmlns:SOAP-ENV", "xmlns:soap");
    xml.replace("NS1:", "m:");
    xml.replace("xmlns:NS1", "xmlns:m");
    xml.replace("xsi:", "xi:");
    xml.replace("xmlns:xsi", "xmlns:xi");
    xml.replace("<return ", "<Return ");
    xml.replace("</return>", "</Return>");
    return xml;
}

} // namespace

QString EchoServer::requestBase(const QString &name)
{
    const int i = name.indexOf(QLatin1String(".REQ"), 0, Qt::CaseInsensitive);
    if (i >= 0)
        return name.left(i);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

const User *EchoServer::userByFichierZip(const QString &name) const
{
    for (const User &u : m_users)
        if (u.fichierZip.compare(name, Qt::CaseInsensitive) == 0)
            return &u;
    return nullptr;
}

const User *EchoServer::userByUsager(const QString &code) const
{
    for (const User &u : m_users)
        if (u.usager.compare(code, Qt::CaseInsensitive) == 0)
            return &u;
    return nullptr;
}

const User *EchoServer::userByPrefix(const QString &fileName) const
{
    const User *best = nullptr;
    for (const User &u : m_users)
        if (fileName.startsWith(u.fichierZip, Qt::CaseInsensitive)
            && (!best || u.fichierZip.size() > best->fichierZip.size()))
            best = &u;
    return best;
}

const User *EchoServer::checkCredentials(const QString &triple) const
{
    const int a = triple.indexOf(QLatin1Char('/'));
    const int b = a < 0 ? -1 : triple.indexOf(QLatin1Char('/'), a + 1);
    if (b < 0)
        return nullptr;
    const QString first = triple.left(a), code = triple.mid(a + 1, b - a - 1), pass = triple.mid(b + 1);
    for (const User &u : m_users)
        if (u.usager.compare(code, Qt::CaseInsensitive) == 0 && u.motDePasse == pass
            && (first.startsWith(u.fichierZip, Qt::CaseInsensitive)))
            return &u;
    return nullptr;
}

QString EchoServer::userFolder(const User &u) const
{
    return m_root + QStringLiteral("/users/") + u.fichierZip;
}

QString EchoServer::dictationFolder(const User &u) const
{
    return userFolder(u) + QStringLiteral("/dictees");
}

QString EchoServer::findArchive(const QString &name, const User **owner) const
{
    if (!plainFileName(name))
        return {};
    for (const User &u : m_users) {
        const QString p = userFolder(u) + QLatin1Char('/') + name;
        if (QFileInfo(p).isFile()) {
            if (owner)
                *owner = &u;
            return p;
        }
    }
    return {};
}

QStringList EchoServer::fragments(const QString &folder, const QString &archive) const
{
    const QRegularExpression re(QLatin1Char('^') + QRegularExpression::escape(archive) + QStringLiteral("\\.\\d{3}$"));
    QStringList out;
    for (const QString &f : QDir(folder).entryList(QDir::Files, QDir::Name))
        if (re.match(f).hasMatch())
            out.append(f);
    return out;
}

QString EchoServer::param(const soap::Message &msg, const char *name) const
{
    return msg.text(msg.parameter(QLatin1String(name), Qt::CaseInsensitive));
}

void EchoServer::registerRequest(const User &u, const QString &name, const QString &path)
{
    QFile f(path);
    QStringList lines;
    if (f.open(QIODevice::ReadOnly))
        lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    Request r;
    r.name = name;
    r.fichierZip = u.fichierZip;
    r.accession = lines.value(2).trimmed();
    r.birthDate = lines.value(4).trimmed();
    r.answerText = r.accession;
    const QString script = m_scripts.value(r.accession);
    const QString studyFolder = m_root + QStringLiteral("/studies/") + r.accession;
    if (!script.isEmpty()) {
        const QString kind = script.section(QLatin1Char(' '), 0, 0);
        const QString text = script.section(QLatin1Char(' '), 1);
        if (!text.isEmpty())
            r.answerText = text;
        r.state = kind == QLatin1String("ERR")   ? RequestState::RefusedErr
                  : kind == QLatin1String("ACK") ? RequestState::RefusedAck
                                                 : RequestState::Preparing;
    } else if (r.accession.isEmpty() || !plainFileName(r.accession) || !QFileInfo(studyFolder).isDir()) {
        r.state = RequestState::RefusedAck;
    } else {
        QFile birth(studyFolder + QStringLiteral("/naissance.txt"));
        if (!r.birthDate.isEmpty() && birth.open(QIODevice::ReadOnly)
            && QString::fromLatin1(birth.readAll()).trimmed() != r.birthDate)
            r.state = RequestState::RefusedErr;
    }
    r.readyAt = QDateTime::currentDateTimeUtc().addMSecs(m_prepareMs);
    m_requests.insert(requestBase(name), r);
    log(QStringLiteral("requête %1 : numéro %2, état %3").arg(name, r.accession).arg(int(r.state)));
}

void EchoServer::advance()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it) {
        Request &r = it.value();
        if (r.state != RequestState::Preparing || r.readyAt > now)
            continue;
        const User *u = userByFichierZip(r.fichierZip);
        const QString study = m_root + QStringLiteral("/studies/") + r.accession;
        QString error;
        if (u && QFileInfo(study).isDir()
            && buildStudyArchive(study, u->fichierZip, r.accession,
                                 userFolder(*u) + QLatin1Char('/') + u->fichierZip + QStringLiteral(".zip"),
                                 m_root + QStringLiteral("/tmp"), &error)) {
            r.state = RequestState::Done;
            QFile::remove(userFolder(*u) + QLatin1Char('/') + r.name);
            log(QStringLiteral("archive prête pour %1 (%2)").arg(r.fichierZip, r.accession));
        } else if (!QFileInfo(study).isDir()) {
            // A scripted "OK2" for a study the server does not hold never ends.
            continue;
        } else {
            r.state = RequestState::Failed;
            log(QStringLiteral("échec de la préparation de %1 : %2").arg(r.accession, error));
        }
    }
}

// ---- operations --------------------------------------------------------------------

EchoServer::Answer EchoServer::dispatch(const QString &op, const soap::Message &msg, const QList<Incoming> &incoming)
{
    Answer a;
    auto ret = [&](const QString &text) { a.values = {soap::stringValue(QStringLiteral("return"), text)}; };
    advance();

    if (op == QLatin1String("echoConnexion")) {
        ret(param(msg, "value"));
    } else if (op == QLatin1String("echoPassWord")) {
        ret(checkCredentials(param(msg, "value")) ? QStringLiteral("OK") : QStringLiteral("ERREUR"));
    } else if (op == QLatin1String("echoZipDisponible")) {
        const QString name = param(msg, "value");
        if (name.compare(QLatin1String("Strandel"), Qt::CaseInsensitive) == 0) {
            const QStringList updates =
                QDir(m_root + QStringLiteral("/updates")).entryList({QStringLiteral("*.zip")}, QDir::Files, QDir::Name);
            ret(updates.isEmpty() ? QStringLiteral("ERREUR") : updates.last());
        } else {
            const User *u = userByFichierZip(name);
            ret(u && QFileInfo(userFolder(*u) + QLatin1Char('/') + u->fichierZip + QStringLiteral(".zip")).isFile()
                    ? QStringLiteral("OK")
                    : QStringLiteral("ERREUR"));
        }
    } else if (op == QLatin1String("echoVolumeDuZip")) {
        const QString path = findArchive(param(msg, "value"), nullptr);
        ret(path.isEmpty() ? QStringLiteral("0") : QString::number(QFileInfo(path).size()));
    } else if (op == QLatin1String("echoEffacerZip")) {
        const QString value = param(msg, "value");
        const QString archive = value.section(QLatin1Char('/'), 0, 0);
        const User *u = checkCredentials(value);
        if (!u || !plainFileName(archive)) {
            ret(QStringLiteral("ERREUR"));
        } else {
            QFile::remove(userFolder(*u) + QLatin1Char('/') + archive);
            for (const QString &f : fragments(userFolder(*u), archive))
                QFile::remove(userFolder(*u) + QLatin1Char('/') + f);
            ret(QStringLiteral("OK"));
        }
    } else if (op == QLatin1String("echoReqDejaLa")) {
        QString pending;
        for (const Request &r : m_requests)
            if (r.state == RequestState::Preparing && r.fichierZip.compare(param(msg, "value"), Qt::CaseInsensitive) == 0)
                pending = r.name;
        ret(pending.isEmpty() ? QStringLiteral("OK") : pending);
    } else if (op == QLatin1String("echoAckErrOk2") || op == QLatin1String("echoACKouERR")
               || op == QLatin1String("echoACKDisponible")) {
        const auto it = m_requests.constFind(requestBase(param(msg, "REquete")));
        QString text, acces = param(msg, "Acces");
        if (it != m_requests.constEnd()) {
            switch (it->state) {
            case RequestState::RefusedErr: text = it->answerText; acces = QStringLiteral("ERR"); break;
            case RequestState::RefusedAck: text = it->answerText; acces = QStringLiteral("ACK"); break;
            case RequestState::Preparing:
                if (op == QLatin1String("echoAckErrOk2")) {
                    text = it->answerText;
                    acces = QStringLiteral("OK2");
                }
                break;
            default: break;
            }
        }
        if (op == QLatin1String("echoACKDisponible")) {
            ret(acces == QLatin1String("ACK") ? QStringLiteral("OK") : QStringLiteral("ERREUR"));
        } else {
            ret(text);
            a.values.append(soap::stringValue(QStringLiteral("Acces"), acces));
        }
    } else if (op == QLatin1String("echoEffacerACK") || op == QLatin1String("echoEffacerERR")) {
        const QString name = param(msg, op == QLatin1String("echoEffacerACK") ? "NomDuACK" : "NomDuERR");
        const auto it = m_requests.find(requestBase(name));
        if (it != m_requests.end() && it->state != RequestState::Preparing) {
            if (const User *u = userByFichierZip(it->fichierZip))
                QFile::remove(userFolder(*u) + QLatin1Char('/') + it->name);
            m_requests.erase(it);
        }
        ret(QStringLiteral("OK"));
    } else if (op == QLatin1String("echoEffacerOk2")) {
        ret(QStringLiteral("OK"));
    } else if (op == QLatin1String("SendAttachment")) {
        const QString name = param(msg, "name");
        const QString ref = soap::Message::attachmentRef(msg.resolve(msg.parameter(QStringLiteral("Attachment"), Qt::CaseInsensitive)));
        const Incoming *in = nullptr;
        for (const Incoming &i : incoming)
            if (!ref.isEmpty() && i.contentId.compare(ref, Qt::CaseInsensitive) == 0)
                in = &i;
        const User *u = userByPrefix(name);
        if (!plainFileName(name)) {
            a.fault = QStringLiteral("Nom de fichier refusé : %1").arg(name);
        } else if (!in) {
            a.fault = QStringLiteral("Pièce jointe absente (%1)").arg(ref);
        } else if (!u) {
            a.fault = QStringLiteral("Usager inconnu pour le fichier %1").arg(name);
        } else {
            const bool request = name.endsWith(QLatin1String(".req"), Qt::CaseInsensitive);
            const QString target = (request ? userFolder(*u) : dictationFolder(*u)) + QLatin1Char('/') + name;
            QFile::remove(target);
            if (!QFile::rename(in->path, target)) {
                a.fault = QStringLiteral("Enregistrement impossible : %1").arg(name);
            } else {
                if (request)
                    registerRequest(*u, name, target);
                a.values = {soap::boolValue(QStringLiteral("return"), true)};
            }
        }
    } else if (op == QLatin1String("GetAttachment")) {
        const QString name = param(msg, "name");
        const User *u = userByUsager(param(msg, "Usager"));
        const QString update = m_root + QStringLiteral("/updates/") + name;
        if (!plainFileName(name)) {
            a.fault = QStringLiteral("Nom de fichier refusé : %1").arg(name);
        } else if (u && QFileInfo(userFolder(*u) + QLatin1Char('/') + name).isFile()) {
            a.attachmentFile = userFolder(*u) + QLatin1Char('/') + name;
        } else if (QFileInfo(update).isFile()) {
            a.attachmentFile = update;
            a.attachmentType = "zip";
        } else {
            a.fault = QStringLiteral("Fichier introuvable : %1").arg(name);
        }
    } else if (op == QLatin1String("GetAttachmentList")) {
        QStringList names;
        if (const User *u = userByUsager(param(msg, "Usager"))) {
            const QRegularExpression piece(QStringLiteral("\\.\\d{3}$"));
            for (const QString &f : QDir(dictationFolder(*u)).entryList(QDir::Files, QDir::Name))
                if (!piece.match(f).hasMatch())
                    names.append(f);
        }
        a.values = {soap::stringArrayValue(QStringLiteral("return"), names)};
    } else if (op == QLatin1String("DebutDownLoadZip")) {
        const QString name = param(msg, "NomDuZip");
        bool ok = false;
        const int size = param(msg, "VolumePaquet").toInt(&ok);
        const User *u = nullptr;
        const QString path = findArchive(name, &u);
        if (!ok || size <= 0) {
            ret(QStringLiteral("ERREUR : taille de fragment invalide"));
        } else if (path.isEmpty()) {
            ret(QStringLiteral("ERREUR : archive introuvable %1").arg(name));
        } else {
            for (const QString &f : fragments(userFolder(*u), name))
                QFile::remove(userFolder(*u) + QLatin1Char('/') + f);
            QFile in(path);
            bool written = in.open(QIODevice::ReadOnly);
            QByteArray buffer(size, Qt::Uninitialized);
            for (int n = 1; written && !in.atEnd(); ++n) {
                const qint64 got = in.read(buffer.data(), size);
                QFile out(QStringLiteral("%1.%2").arg(path).arg(n, 3, 10, QLatin1Char('0')));
                written = got > 0 && out.open(QIODevice::WriteOnly) && out.write(buffer.constData(), got) == got;
            }
            ret(written ? QStringLiteral("OK") : QStringLiteral("ERREUR : fragmentation impossible"));
        }
    } else if (op == QLatin1String("GetSplitFileList")) {
        const QString name = param(msg, "NomDuZip");
        const User *u = nullptr;
        const QString path = findArchive(name, &u);
        a.values = {soap::stringArrayValue(QStringLiteral("return"),
                                           path.isEmpty() ? QStringList() : fragments(userFolder(*u), name))};
    } else if (op == QLatin1String("FinDownLoadZip")) {
        const QString name = param(msg, "NomDuZip");
        const User *u = nullptr;
        if (!findArchive(name, &u).isEmpty())
            for (const QString &f : fragments(userFolder(*u), name))
                QFile::remove(userFolder(*u) + QLatin1Char('/') + f);
        ret(QStringLiteral("OK"));
    } else if (op == QLatin1String("DebutEnvoiSplit") || op == QLatin1String("FinEnvoiSplit")) {
        const QString name = param(msg, "NomDuZip");
        const User *u = userByPrefix(name);
        if (!u || !plainFileName(name)) {
            ret(QStringLiteral("ERREUR : usager inconnu pour %1").arg(name));
        } else if (op == QLatin1String("DebutEnvoiSplit")) {
            for (const QString &f : fragments(dictationFolder(*u), name))
                QFile::remove(dictationFolder(*u) + QLatin1Char('/') + f);
            ret(QStringLiteral("OK"));
        } else {
            const QString folder = dictationFolder(*u);
            const QStringList pieces = fragments(folder, name);
            const QString target = folder + QLatin1Char('/') + name;
            QFile out(target);
            bool ok = !pieces.isEmpty() && out.open(QIODevice::WriteOnly);
            for (const QString &p : pieces) {
                QFile in(folder + QLatin1Char('/') + p);
                ok = ok && in.open(QIODevice::ReadOnly);
                char buffer[64 * 1024];
                qint64 n;
                while (ok && (n = in.read(buffer, sizeof buffer)) > 0)
                    ok = out.write(buffer, n) == n;
            }
            out.close();
            QString why = pieces.isEmpty() ? QStringLiteral("aucun fragment reçu") : QString();
            if (ok && !checkZip(target, QLatin1String(kArchivePassword), nullptr, &why))
                ok = false;
            for (const QString &p : pieces)
                QFile::remove(folder + QLatin1Char('/') + p);
            if (ok) {
                ret(QStringLiteral("OK"));
            } else {
                QFile::remove(target);
                ret(QStringLiteral("ERREUR : archive invalide (%1)").arg(why));
            }
        }
    } else if (const soap::OperationInfo *info = soap::findOperation(op)) {
        // The test operations echo their value.
        soap::Value v;
        v.name = QStringLiteral("return");
        v.type = info->result;
        const soap::XmlNode *node = msg.parameter(QStringLiteral("value"), Qt::CaseInsensitive);
        const soap::XmlNode *resolved = msg.resolve(node);
        if (resolved && !resolved->children.empty())
            v.items = msg.stringArray(resolved);
        else
            v.text = msg.text(node);
        a.values = {v};
    } else {
        a.fault = QStringLiteral("Opération inconnue : %1").arg(op);
    }
    return a;
}

// ---- control ---------------------------------------------------------------------------

void EchoServer::holdIfAsked(const QString &op, const QString &name)
{
    std::unique_lock<std::mutex> lock(m_holdMutex);
    if (m_holdOp.isEmpty() || m_holdOp != op || (m_holdName != QLatin1String("*") && m_holdName != name))
        return;
    // Held once: the file "held" says so to the test, which answers "release".
    m_holdOp.clear();
    QFile marker(m_root + QStringLiteral("/held"));
    if (marker.open(QIODevice::WriteOnly))
        marker.write((op + QLatin1Char(' ') + name).toUtf8());
    marker.close();
    log(QStringLiteral("%1 %2 retenu").arg(op, name));
    const quint64 releases = m_releases;
    // A test that never releases does not keep the server's thread for ever.
    m_holdChanged.wait_for(lock, std::chrono::seconds(120), [&] { return m_releases != releases; });
    QFile::remove(m_root + QStringLiteral("/held"));
}

EchoServer::Behaviour EchoServer::behaviourFor(const QString &op)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_behaviours.contains(op))
        return m_behaviours.value(op);
    return m_behaviours.value(QStringLiteral("*"));
}

QString EchoServer::control(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const QString cmd = line.section(QLatin1Char(' '), 0, 0);
        const QString op = line.section(QLatin1Char(' '), 1, 1);
        const QString rest = line.section(QLatin1Char(' '), 2);
        if (cmd == QLatin1String("reset")) {
            m_behaviours.clear();
            m_scripts.clear();
        } else if (cmd == QLatin1String("mode")) {
            Behaviour &b = m_behaviours[op];
            b.mode = rest.section(QLatin1Char(' '), 0, 0);
            b.text = rest.section(QLatin1Char(' '), 1);
        } else if (cmd == QLatin1String("answer")) {
            m_behaviours[op].hasAnswer = true;
            m_behaviours[op].answer = rest;
        } else if (cmd == QLatin1String("acces")) {
            m_behaviours[op].hasAcces = true;
            m_behaviours[op].acces = rest;
        } else if (cmd == QLatin1String("delay")) {
            m_behaviours[op].delayMs = rest.toInt();
        } else if (cmd == QLatin1String("script")) {
            m_scripts.insert(op, rest);
        } else if (cmd == QLatin1String("prepare-ms")) {
            m_prepareMs = op.toInt();
        } else if (cmd == QLatin1String("hold")) {
            std::lock_guard<std::mutex> hold(m_holdMutex);
            m_holdOp = op;
            m_holdName = rest;
        } else if (cmd == QLatin1String("release")) {
            std::lock_guard<std::mutex> hold(m_holdMutex);
            m_holdOp.clear();
            m_holdName.clear();
            ++m_releases;
            QFile::remove(m_root + QStringLiteral("/held"));
            m_holdChanged.notify_all();
        } else {
            return QStringLiteral("ERREUR commande inconnue : %1").arg(line);
        }
    }
    return QStringLiteral("OK");
}

// ---- HTTP ---------------------------------------------------------------------------------

void EchoServer::handle(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
{
    const QString path = QString::fromStdString(req.path);
    if (path == QLatin1String("/__control")) {
        std::string body;
        reader([&](const char *data, size_t len) {
            body.append(data, len);
            return body.size() < 65536;
        });
        const QString answer = control(QString::fromUtf8(body.data(), int(body.size())));
        res.status = answer == QLatin1String("OK") ? 200 : 400;
        res.set_content(answer.toStdString() + "\n", "text/plain");
        return;
    }
    if (path != QLatin1Char('/') + m_alias + QLatin1String(soap::kServicePath)) {
        res.status = 404;
        res.set_content("<html><body>404 Not Found</body></html>", "text/html");
        return;
    }

    // Framing, as the real server checks it.
    const QByteArray contentType = QByteArray::fromStdString(req.get_header_value("Content-Type"));
    QByteArray envelope;
    QList<Incoming> incoming;
    QString refused;
    const qint64 maxEnvelope = 8 * 1024 * 1024;
    auto cleanup = [&]() {
        for (const Incoming &i : incoming)
            QFile::remove(i.path);
    };
    if (contentType.startsWith("multipart/")) {
        QByteArray boundary;
        if (!soap::checkStrictMultipartContentType(contentType, &boundary, &refused)) {
            res.set_header("Connection", "close");
            sendFault(res, QStringLiteral("Requête refusée : %1").arg(refused));
            log(QStringLiteral("refusé : %1").arg(refused));
            return;
        }
        const QString tmp = m_root + QStringLiteral("/tmp");
        soap::MimeParser::Options options;
        options.strict = true;
        soap::MimeParser parser(
            boundary,
            [&](int index, const soap::PartHeaders &h, QString *error) -> std::unique_ptr<soap::PartSink> {
                if (index == 0)
                    return std::make_unique<soap::MemorySink>(&envelope, maxEnvelope);
                auto file = std::make_shared<QFile>(tmp + QStringLiteral("/in-%1.part").arg(soap::newContentId()));
                if (!file->open(QIODevice::WriteOnly)) {
                    *error = QStringLiteral("fichier temporaire impossible");
                    return nullptr;
                }
                incoming.append({h.contentId(), h.contentLocation(), file->fileName()});
                struct Sink : soap::FileSink
                {
                    std::shared_ptr<QFile> f;
                    explicit Sink(std::shared_ptr<QFile> file) : soap::FileSink(file.get()), f(std::move(file)) {}
                    bool finish(QString *error) override
                    {
                        const bool ok = soap::FileSink::finish(error);
                        f->close();
                        return ok;
                    }
                };
                return std::make_unique<Sink>(file);
            },
            options);
        reader([&](const char *data, size_t len) { return parser.feed(data, qint64(len)); });
        if (!parser.finish())
            refused = parser.error();
    } else if (contentType.startsWith("text/xml")) {
        reader([&](const char *data, size_t len) {
            if (envelope.size() + qint64(len) > maxEnvelope) {
                refused = QStringLiteral("enveloppe trop volumineuse");
                return false;
            }
            envelope.append(data, qsizetype(len));
            return true;
        });
    } else {
        refused = QStringLiteral("Content-Type refusé : %1").arg(QString::fromLatin1(contentType));
    }
    if (!refused.isEmpty()) {
        cleanup();
        res.set_header("Connection", "close");
        sendFault(res, QStringLiteral("Requête refusée : %1").arg(refused));
        log(QStringLiteral("refusé : %1").arg(refused));
        return;
    }

    soap::Message msg;
    QString error;
    if (!soap::readMessage(envelope, &msg, &error) || msg.isFault || !msg.operation) {
        cleanup();
        sendFault(res, QStringLiteral("Requête refusée : enveloppe illisible (%1)").arg(error));
        return;
    }
    if (msg.body->contentBeforeFirstChild) {
        cleanup();
        sendFault(res, QStringLiteral("Requête refusée : texte avant l'élément de l'opération"));
        return;
    }
    const QString op = msg.operation->name;
    if (msg.operation->ns != QLatin1String(soap::kServiceNamespace)) {
        cleanup();
        sendFault(res, QStringLiteral("Requête refusée : espace de noms %1").arg(msg.operation->ns));
        return;
    }
    const QByteArray action = QByteArray::fromStdString(req.get_header_value("SOAPAction"));
    if (action != soap::soapAction(op)) {
        cleanup();
        sendFault(res, QStringLiteral("Requête refusée : SOAPAction %1").arg(QString::fromLatin1(action)));
        return;
    }

    holdIfAsked(op, param(msg, "name"));
    const Behaviour b = behaviourFor(op);
    if (b.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(b.delayMs));
    log(QStringLiteral("%1%2").arg(op, b.mode.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(b.mode)));

    // Failures and bad answers on demand.
    const QString mode = b.mode;
    const QString cid = soap::newContentId();
    const QByteArray text = (b.text.isEmpty() ? QStringLiteral("Erreur simulée du serveur (%1)").arg(op) : b.text).toUtf8();
    if (mode == QLatin1String("fault")) {
        cleanup();
        sendFault(res, QString::fromUtf8(text));
        return;
    }
    if (mode == QLatin1String("fault-detail")) {
        cleanup();
        sendFault(res, QString::fromUtf8(text), 500, QStringLiteral("Détail de l'erreur"));
        return;
    }
    if (mode == QLatin1String("fault-200")) {
        cleanup();
        sendFault(res, QString::fromUtf8(text), 200);
        return;
    }
    if (mode == QLatin1String("fault-raw")) {
        cleanup();
        res.status = 500;
        res.set_content(b.text.isEmpty() ? std::string("<SOAP-ENV:Envelope><SOAP-ENV:Body><SOAP-ENV:Fault><faultstring>"
                                                       "Violation d'accès <0x0040A1B2> & arrêt</faultstring>")
                                         : b.text.toStdString(),
                        "text/xml");
        return;
    }
    if (mode == QLatin1String("fault-multipart")) {
        cleanup();
        const QByteArray body = multipartHead(soap::faultEnvelope(QString::fromUtf8(text))) + "\r\n--" + soap::kBoundary;
        res.status = 500;
        res.set_content(s(body), responseMultipartType());
        return;
    }
    if (mode == QLatin1String("http-404")) {
        cleanup();
        res.status = 404;
        res.set_content("<html><body>Not Found</body></html>", "text/html");
        return;
    }
    if (mode == QLatin1String("entity") || mode == QLatin1String("deep") || mode == QLatin1String("garbage")) {
        cleanup();
        QByteArray body;
        if (mode == QLatin1String("entity")) {
            body = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
            for (int i = 1; i < 10; ++i)
                body += QStringLiteral("<!ENTITY lol%1 \"%2\">")
                            .arg(i)
                            .arg(QStringLiteral("&lol%1;").arg(i == 1 ? QString() : QString::number(i - 1)).repeated(10))
                            .toUtf8();
            body += "]>\n<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
                    "<NS1:x xmlns:NS1=\"urn:EchoServiceIntf-IEchoService\"><return>&lol9;</return></NS1:x>"
                    "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
        } else if (mode == QLatin1String("deep")) {
            body = "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>";
            body += QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000);
            body += "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
        } else {
            body = "<html><body>Ceci n'est pas du SOAP</body></html>";
        }
        res.status = 200;
        res.set_content(s(body), "text/xml");
        return;
    }
    if (mode == QLatin1String("huge")) {
        cleanup();
        const QByteArray head = "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                                "<SOAP-ENV:Body><NS1:r xmlns:NS1=\"urn:EchoServiceIntf-IEchoService\"><return>";
        const QByteArray tail = "</return></NS1:r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
        const size_t fill = 50u * 1024 * 1024;
        const size_t total = size_t(head.size()) + fill + size_t(tail.size());
        sendProvided(res, 200, "application/octet-stream", total,
                     [head, tail, fill, total](size_t offset, size_t length, httplib::DataSink &sink) {
                         static const std::string block(65536, 'A');
                         if (offset < size_t(head.size()))
                             return sink.write(head.constData() + offset, size_t(head.size()) - offset);
                         if (offset < size_t(head.size()) + fill)
                             return sink.write(block.data(), std::min({length, block.size(), size_t(head.size()) + fill - offset}));
                         const size_t t = offset - size_t(head.size()) - fill;
                         return t < size_t(tail.size()) && offset < total
                                && sink.write(tail.constData() + t, size_t(tail.size()) - t);
                     });
        return;
    }
    if (mode == QLatin1String("lying-http-length")) {
        cleanup();
        const QByteArray body = soap::responseEnvelope(op, {soap::stringValue(QStringLiteral("return"), QStringLiteral("OK"))});
        sendProvided(res, 200, "text/xml", size_t(body.size()) + 100000,
                     [body](size_t offset, size_t, httplib::DataSink &sink) {
                         if (offset == 0)
                             return sink.write(body.constData(), size_t(body.size()));
                         return false; // the rest never comes: the connection is cut
                     });
        return;
    }

    Answer answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answer = dispatch(op, msg, incoming);
    }
    cleanup();
    if (b.hasAnswer && !answer.values.isEmpty()) {
        answer.values[0].type = soap::Type::String;
        answer.values[0].text = b.answer;
    }
    if (b.hasAcces)
        for (soap::Value &v : answer.values)
            if (v.name == QLatin1String("Acces"))
                v.text = b.acces;
    if (!answer.fault.isEmpty()) {
        sendFault(res, answer.fault);
        return;
    }
    if (mode == QLatin1String("array-href"))
        for (soap::Value &v : answer.values)
            v.multiRef = true;

    if (answer.attachmentFile.isEmpty()) {
        QByteArray xml = soap::responseEnvelope(op, answer.values);
        if (mode == QLatin1String("alt-prefix"))
            xml = alternatePrefixes(xml);
        res.status = 200;
        res.set_content(s(xml), mode == QLatin1String("alt-prefix") ? "text/xml" : "text/xml; charset=utf-8");
        return;
    }

    // An attachment: the envelope refers to it, the file streams after it.
    const QByteArray xml = soap::responseEnvelope(op, {soap::attachmentValue(QStringLiteral("return"), cid)});
    soap::OutgoingPart part;
    part.filePath = answer.attachmentFile;
    part.contentId = cid;
    part.contentType = answer.attachmentType;
    if (mode == QLatin1String("wrong-cid"))
        part.contentId = soap::newContentId();
    QList<soap::OutgoingPart> parts{part};
    if (mode == QLatin1String("missing-attachment"))
        parts.clear();
    if (mode == QLatin1String("oversize")) {
        // The attachment is announced (and streamed) far beyond the fragment
        // asked for; the stream is cut after 64 MiB whatever was announced.
        // "unannounced": the part says no length at all.
        const bool unannounced = b.text == QLatin1String("unannounced");
        const qint64 declared = b.text.toLongLong() > 0 ? b.text.toLongLong() : 3000000000LL;
        QByteArray head = multipartHead(xml) + "\r\n--" + soap::kBoundary + "\r\nContent-ID: <" + cid.toLatin1() + ">\r\n"
                          + (unannounced ? QByteArray() : "Content-Length: " + QByteArray::number(declared) + "\r\n")
                          + "Content-Type: application/binary\r\nContent-transfer-encoding: 8bit\r\n\r\n";
        const QByteArray tail = QByteArray("\r\n--") + soap::kBoundary + "--\r\n";
        const qint64 cap = qint64(head.size()) + (64LL << 20);
        sendProvided(res, 200, responseMultipartType(), size_t(head.size() + declared + tail.size()),
                     [head, cap](size_t offset, size_t length, httplib::DataSink &sink) {
                         static const std::string block(65536, 'Z');
                         const qint64 pos = qint64(offset);
                         if (pos >= cap) {
                             log(QStringLiteral("pièce jointe coupée après %1 octets").arg(pos));
                             return false;
                         }
                         const bool ok = pos < head.size()
                                             ? sink.write(head.constData() + pos, size_t(head.size() - pos))
                                             : sink.write(block.data(), std::min(length, block.size()));
                         if (!ok)
                             log(QStringLiteral("pièce jointe refusée par le client après %1 octets").arg(pos));
                         return ok;
                     });
        return;
    }
    auto body = std::make_shared<soap::MultipartBody>(xml, parts);
    if (!body->open(QIODevice::ReadOnly)) {
        sendFault(res, body->errorString());
        return;
    }
    qint64 total = body->size();
    qint64 cut = total; // bytes actually sent
    const qint64 fileSize = QFileInfo(part.filePath).size();
    if (mode == QLatin1String("truncated-multipart")) {
        cut = total - 40 - fileSize / 2;
        total = cut;
    } else if (mode == QLatin1String("no-closing")) {
        total -= 4; // drop the closing "--" and its line end
        cut = total;
    }
    QByteArray extra;
    if (mode == QLatin1String("lying-length")) {
        // The part carries more bytes than its Content-Length says.
        extra = QByteArray(300, 'Z');
    }
    const qint64 headEnd = total - qint64(QByteArray("\r\n--").size() + qstrlen(soap::kBoundary) + 4);
    sendProvided(res, 200, responseMultipartType(), size_t(total + extra.size()),
                 [body, cut, extra, headEnd](size_t offset, size_t length, httplib::DataSink &sink) {
                     qint64 pos = qint64(offset);
                     if (!extra.isEmpty() && pos >= headEnd) {
                         // Inject the surplus just before the closing delimiter.
                         const qint64 inExtra = pos - headEnd;
                         if (inExtra < extra.size())
                             return sink.write(extra.constData() + inExtra, size_t(extra.size() - inExtra));
                         pos -= extra.size();
                     }
                     if (pos >= cut)
                         return false;
                     char buffer[64 * 1024];
                     qint64 want = qMin<qint64>(qint64(sizeof buffer), qMin<qint64>(qint64(length), cut - pos));
                     if (!extra.isEmpty() && pos < headEnd)
                         want = qMin(want, headEnd - pos);
                     if (!body->seek(pos))
                         return false;
                     const qint64 n = body->read(buffer, want);
                     return n > 0 && sink.write(buffer, size_t(n));
                 });
}

} // namespace testserver
