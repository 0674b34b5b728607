// The SOAP client object: HTTP transport of one call, reading of the answer
// (plain XML or multipart with attachments streamed to files), errors.

#include "transfer/core/soapcall.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTemporaryFile>
#include <QUrl>

namespace strandel {

class EchoServiceClient;
IEchoService *newEchoServiceClient(SoapClient &client);

class SoapClientPrivate
{
public:
    QNetworkAccessManager nam;
    QString url;
    std::function<void(qint64, qint64)> receiving;
    std::function<void(qint64, qint64)> posting;
    QString attachmentFolder;
    qint64 maxXml = 8 * 1024 * 1024;
    int timeout = 60000;
    bool busy = false;
    qint64 attachmentLimit = -1;
    bool cancelRequested = false;
    QPointer<QNetworkReply> current; // the call in progress
    std::unique_ptr<IEchoService> service;
};

// ---- SoapError, SoapAttachment --------------------------------------------------

SoapError::SoapError(Kind kind, const QString &message, int code, const QString &faultCode, const QString &detail)
    : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message), m_code(code),
      m_faultCode(faultCode), m_detail(detail)
{
}

SoapAttachment::SoapAttachment(const QString &temporaryPath, const QString &contentType, const QString &contentId)
    : m_path(temporaryPath), m_contentType(contentType), m_contentId(contentId)
{
}

SoapAttachment::~SoapAttachment()
{
    if (!m_saved && !m_path.isEmpty())
        QFile::remove(m_path);
}

qint64 SoapAttachment::size() const
{
    return QFileInfo(m_path).size();
}

bool SoapAttachment::saveAs(const QString &path, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_saved)
        return fail(QStringLiteral("Pièce jointe déjà enregistrée"));
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(m_path).absoluteFilePath())
        return fail(QStringLiteral("Destination identique au fichier temporaire"));
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return fail(QStringLiteral("Impossible de remplacer le fichier %1").arg(path));
    if (QFile::rename(m_path, path)) {
        m_saved = true;
        return true;
    }
    // Another file system: copy under a temporary name beside the target,
    // then rename, so that no half-written file ever bears the target name.
    const QString partial = path + QStringLiteral(".partiel");
    QFile::remove(partial);
    if (!QFile::copy(m_path, partial)) {
        QFile::remove(partial);
        return fail(QStringLiteral("Écriture impossible : %1").arg(path));
    }
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return fail(QStringLiteral("Écriture impossible : %1").arg(path));
    }
    QFile::remove(m_path);
    m_saved = true;
    return true;
}

// ---- SoapClient -----------------------------------------------------------------

SoapClient::SoapClient() : d(std::make_unique<SoapClientPrivate>())
{
    d->attachmentFolder = QDir::tempPath();
    d->service.reset(newEchoServiceClient(*this));
}

SoapClient::~SoapClient() = default;

void SoapClient::setUrl(const QString &url) { d->url = url; }
QString SoapClient::url() const { return d->url; }
void SoapClient::setReceivingDataHandler(std::function<void(qint64, qint64)> handler) { d->receiving = std::move(handler); }
void SoapClient::setPostingDataHandler(std::function<void(qint64, qint64)> handler) { d->posting = std::move(handler); }
void SoapClient::setAttachmentFolder(const QString &folder) { d->attachmentFolder = folder; }
QString SoapClient::attachmentFolder() const { return d->attachmentFolder; }
void SoapClient::setMaxXmlSize(qint64 bytes) { d->maxXml = bytes; }
void SoapClient::setTransferTimeout(int milliseconds) { d->timeout = milliseconds; }
void SoapClient::setAttachmentLimit(qint64 bytes) { d->attachmentLimit = bytes; }
qint64 SoapClient::attachmentLimit() const { return d->attachmentLimit; }
bool SoapClient::callInProgress() const { return d->busy; }

void SoapClient::cancel()
{
    if (!d->busy)
        return;
    d->cancelRequested = true;
    if (d->current)
        d->current->abort();
}
IEchoService &SoapClient::service() { return *d->service; }

// ---- one call -------------------------------------------------------------------------

SoapAttachmentPtr SoapCallResult::attachment(const QString &ref) const
{
    for (const SoapAttachmentPtr &a : attachments)
        if (!a->contentId().isEmpty() && a->contentId().compare(ref, Qt::CaseInsensitive) == 0)
            return a;
    for (const SoapAttachmentPtr &a : attachments)
        if (a->contentId().isEmpty() && !a->contentLocation().isEmpty() && a->contentLocation() == ref)
            return a;
    return nullptr;
}

QString SoapCallResult::returnText() const
{
    const soap::XmlNode *r = message.returnNode();
    if (!r)
        throw SoapError(SoapError::Kind::Protocol, QStringLiteral("Réponse du serveur sans valeur de retour"));
    return message.text(r);
}

namespace {

// What the attachments of one answer may take, and why they were refused.
struct AttachmentBudget
{
    qint64 limit = -1; // -1: none
    qint64 used = 0;
    bool tooLarge = false;
    bool writeFailed = false;

    bool allows(qint64 more) const { return limit < 0 || (more >= 0 && used + more <= limit); }
    QString refusal(qint64 more) const
    {
        return QStringLiteral("Pièce jointe trop volumineuse : %1 octets au moins, %2 octets permis")
            .arg(used + more)
            .arg(limit);
    }
};

// Keeps a part in a temporary file of the attachment folder, within the
// budget of the answer; every write is checked, up to the close.
class TemporaryFileSink : public soap::PartSink
{
public:
    TemporaryFileSink(std::unique_ptr<QTemporaryFile> file, std::vector<SoapAttachmentPtr> *list,
                      const soap::PartHeaders &headers, AttachmentBudget *budget)
        : m_file(std::move(file)), m_inner(m_file.get()), m_budget(budget)
    {
        auto a = std::make_shared<SoapAttachment>(m_file->fileName(), QString::fromLatin1(headers.contentType()),
                                                  headers.contentId());
        a->setContentLocation(headers.contentLocation());
        list->push_back(a);
    }
    bool write(const char *data, qint64 size, QString *error) override
    {
        if (!m_budget->allows(size)) {
            m_budget->tooLarge = true;
            *error = m_budget->refusal(size);
            return false;
        }
        m_budget->used += size;
        if (!m_inner.write(data, size, error)) {
            m_budget->writeFailed = true;
            return false;
        }
        return true;
    }
    bool finish(QString *error) override
    {
        bool ok = m_inner.finish(error);
        m_file->close();
        if (ok && m_file->error() != QFileDevice::NoError) {
            *error = QStringLiteral("Écriture impossible de la pièce jointe : %1").arg(m_file->errorString());
            ok = false;
        }
        if (!ok)
            m_budget->writeFailed = true;
        return ok;
    }

private:
    std::unique_ptr<QTemporaryFile> m_file;
    soap::FileSink m_inner;
    AttachmentBudget *m_budget;
};

QString transportMessage(QNetworkReply *reply, const QUrl &url)
{
    const QString where = url.host() + (url.port() > 0 ? QStringLiteral(":%1").arg(url.port()) : QString());
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Connexion refusée par le serveur %1").arg(where);
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Serveur introuvable : %1").arg(url.host());
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("Délai d'attente dépassé pour le serveur %1").arg(where);
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Connexion interrompue par le serveur %1").arg(where);
    default:
        return QStringLiteral("Erreur de communication avec le serveur %1 : %2").arg(where, reply->errorString());
    }
}

} // namespace

SoapCallResult soapCall(SoapClient &client, const QString &operation, const QList<soap::Value> &params,
                        const QList<soap::OutgoingPart> &attachments)
{
    SoapClientPrivate &d = client.impl();
    if (d.busy)
        throw SoapError(SoapError::Kind::Protocol, QStringLiteral("Un appel au serveur est déjà en cours"));
    const QUrl url(d.url);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty())
        throw SoapError(SoapError::Kind::Transport, QStringLiteral("Adresse du serveur invalide : %1").arg(d.url));

    QNetworkRequest request(url);
    request.setRawHeader("SOAPAction", soap::soapAction(operation));
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Strandel SOAP 1.1"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(d.timeout);

    const QByteArray envelope = soap::requestEnvelope(operation, params);
    std::unique_ptr<QIODevice> body;
    if (attachments.isEmpty()) {
        auto *buffer = new QBuffer;
        buffer->setData(envelope);
        buffer->open(QIODevice::ReadOnly);
        body.reset(buffer);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
    } else {
        auto *multipart = new soap::MultipartBody(envelope, attachments);
        body.reset(multipart);
        if (!multipart->open(QIODevice::ReadOnly))
            throw SoapError(SoapError::Kind::Protocol, multipart->errorString());
        request.setHeader(QNetworkRequest::ContentTypeHeader, soap::multipartContentType());
        request.setRawHeader("MIME-Version", "1.0");
    }
    request.setHeader(QNetworkRequest::ContentLengthHeader, body->size());

    SoapCallResult result;
    QByteArray xml;
    QString readError;
    bool started = false;
    bool multipart = false;
    std::unique_ptr<soap::MimeParser> parser;
    bool haveRoot = false;
    qint64 received = 0;
    qint64 notified = 0;
    qint64 total = -1;
    const QString folder = d.attachmentFolder;
    const qint64 maxXml = d.maxXml;
    AttachmentBudget budget;
    budget.limit = d.attachmentLimit;

    d.busy = true;
    d.cancelRequested = false;
    struct BusyReset
    {
        SoapClientPrivate *d;
        ~BusyReset()
        {
            d->busy = false;
            d->current = nullptr;
        }
    } busyReset{&d};

    QPointer<QNetworkReply> reply = d.nam.post(request, body.get());
    d.current = reply;
    body.release()->setParent(reply); // the reply reads it until it is gone
    // Back-pressure: the network side stops reading when this much waits for us.
    reply->setReadBufferSize(512 * 1024);
    QEventLoop loop;

    auto notify = [&](bool last) {
        if (!d.receiving)
            return;
        while (received - notified >= 2048) {
            notified += 2048;
            d.receiving(notified, total);
        }
        if (last && received > notified) {
            notified = received;
            d.receiving(received, total);
        }
    };

    // The receiving handler may run pending events, and with them a new
    // readyRead of this reply: that one finds the outer read still looping
    // and leaves the bytes to it, so reading never nests (an answer that
    // keeps streaming would otherwise pile up frames until the stack ends).
    bool reading = false;
    auto readAvailable = [&]() {
        if (!reply || !readError.isEmpty() || reading || d.cancelRequested)
            return;
        reading = true;
        struct ReadingReset
        {
            bool *flag;
            ~ReadingReset() { *flag = false; }
        } readingReset{&reading};
        if (!started) {
            started = true;
            total = reply->header(QNetworkRequest::ContentLengthHeader).isValid()
                        ? reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()
                        : -1;
            QByteArray boundary;
            if (soap::parseMultipartContentType(reply->rawHeader("Content-Type"), &boundary)) {
                multipart = true;
                parser = std::make_unique<soap::MimeParser>(
                    boundary,
                    [&](int index, const soap::PartHeaders &h, QString *error) -> std::unique_ptr<soap::PartSink> {
                        // The envelope is the XML part (normally the first one);
                        // every other part is an attachment.
                        const bool xmlPart = h.contentType().toLower().startsWith("text/xml")
                                             || QByteArray("<" + h.contentId().toLatin1() + ">") == soap::kRootContentId
                                             || (index == 0 && h.contentType().isEmpty());
                        if (!haveRoot && xmlPart) {
                            haveRoot = true;
                            return std::make_unique<soap::MemorySink>(&xml, maxXml);
                        }
                        // A part announced beyond what is allowed is refused
                        // before a byte of it is written.
                        if (h.contentLength >= 0 && !budget.allows(h.contentLength)) {
                            budget.tooLarge = true;
                            *error = budget.refusal(h.contentLength);
                            return nullptr;
                        }
                        auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/soap-XXXXXX.part"));
                        file->setAutoRemove(false);
                        if (!file->open()) {
                            *error = QStringLiteral("Impossible de créer un fichier temporaire dans %1").arg(folder);
                            return nullptr;
                        }
                        return std::make_unique<TemporaryFileSink>(std::move(file), &result.attachments, h,
                                                                   &budget);
                    });
            }
        }
        char chunk[64 * 1024];
        while (reply && reply->bytesAvailable() > 0) {
            const qint64 n = reply->read(chunk, sizeof chunk);
            if (n <= 0)
                break;
            received += n;
            if (multipart) {
                if (!parser->feed(chunk, n))
                    readError = parser->error();
            } else if (xml.size() + n > maxXml) {
                readError = QStringLiteral("Réponse XML trop volumineuse (plus de %1 octets)").arg(maxXml);
            } else {
                xml.append(chunk, n);
            }
            if (!readError.isEmpty()) {
                reply->abort();
                return;
            }
            notify(false);
            if (d.cancelRequested)
                return;
        }
    };

    QObject::connect(reply, &QNetworkReply::readyRead, &loop, readAvailable);
    QObject::connect(reply, &QNetworkReply::uploadProgress, &loop, [&](qint64 sent, qint64 all) {
        if (d.posting && all > 0)
            d.posting(sent, all);
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    readAvailable();
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owner(reply.data(),
                                                                    [](QNetworkReply *r) { r->deleteLater(); });

    if (d.cancelRequested)
        throw SoapError(SoapError::Kind::Cancelled, QStringLiteral("Transfert interrompu par l'usager"));
    if (!readError.isEmpty())
        throw SoapError(budget.tooLarge      ? SoapError::Kind::TooLarge
                        : budget.writeFailed ? SoapError::Kind::LocalWrite
                                             : SoapError::Kind::Protocol,
                        readError);
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError netError = reply->error();
    // Errors that only restate an HTTP status (the body is still there to read).
    const bool httpLevelError = (netError >= QNetworkReply::ContentAccessDenied && netError <= QNetworkReply::UnknownContentError)
                                || (netError >= QNetworkReply::InternalServerError && netError <= QNetworkReply::UnknownServerError);
    if (netError != QNetworkReply::NoError && (result.httpStatus == 0 || !httpLevelError)) {
        // No answer at all, or an answer cut short.
        if (result.httpStatus != 0 && netError != QNetworkReply::OperationCanceledError)
            throw SoapError(SoapError::Kind::Transport,
                            QStringLiteral("Réponse du serveur interrompue : %1").arg(reply->errorString()), netError);
        throw SoapError(SoapError::Kind::Transport, transportMessage(reply, url), netError);
    }
    notify(true);
    if (multipart && !parser->finish()) {
        if (budget.tooLarge || budget.writeFailed)
            throw SoapError(budget.tooLarge ? SoapError::Kind::TooLarge : SoapError::Kind::LocalWrite,
                            parser->error());
        if (result.httpStatus == 500)
            throw SoapError(SoapError::Kind::Fault,
                            xml.isEmpty() ? QStringLiteral("Erreur interne du serveur") : QString::fromUtf8(xml).trimmed(),
                            500);
        throw SoapError(SoapError::Kind::Protocol, parser->error());
    }

    QString parseError;
    if (!soap::readMessage(xml, &result.message, &parseError)) {
        if (result.httpStatus == 500) {
            // The server may put an unescaped text in its fault: the body is the message.
            const QString raw = QString::fromUtf8(xml).trimmed();
            throw SoapError(SoapError::Kind::Fault, raw.isEmpty() ? QStringLiteral("Erreur interne du serveur") : raw,
                            500);
        }
        if (result.httpStatus != 200)
            throw SoapError(SoapError::Kind::Http,
                            QStringLiteral("Erreur HTTP %1 %2")
                                .arg(result.httpStatus)
                                .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()),
                            result.httpStatus);
        throw SoapError(SoapError::Kind::Protocol, parseError);
    }
    if (result.message.isFault)
        throw SoapError(SoapError::Kind::Fault, result.message.faultString, result.httpStatus,
                        result.message.faultCode, result.message.faultDetail);
    if (result.httpStatus != 200)
        throw SoapError(SoapError::Kind::Http,
                        QStringLiteral("Erreur HTTP %1 %2")
                            .arg(result.httpStatus)
                            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()),
                        result.httpStatus);
    if (!result.message.operation)
        throw SoapError(SoapError::Kind::Protocol, QStringLiteral("Réponse SOAP sans élément de réponse"));
    return result;
}

} // namespace strandel
