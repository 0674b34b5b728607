#pragma once
// The central server's SOAP interface as the transfer client sees it.
//
// IEchoService declares the server's operations (the ones the client calls,
// with the server's own operation and parameter names). SoapClient is one
// "SOAP client object": it owns the HTTP connection, the service URL and the
// progress notifications; the main window has one, the dictation upload
// window a second one. ServiceProxy points a SoapClient at the server named
// by the settings and hands out its IEchoService.
//
// Every call blocks its caller until the answer is in, while a local event
// loop keeps the windows painting (user input is held back meanwhile, so a
// click cannot start a second transfer in the middle of a call). A transport
// failure, an HTTP failure, a SOAP fault or an unreadable answer throws
// SoapError; nothing else is caught or thrown by the SOAP layer.
//
// The small client-side operations at the bottom (TestConnection, TestAccess,
// ...) wrap one call each and catch SoapError the way the client expects.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

namespace strandel {

// Raised by every IEchoService call that does not get a usable answer.
class SoapError : public std::runtime_error
{
public:
    enum class Kind {
        Transport, // no HTTP answer: refused, unreachable, timed out, cut
        Http,      // an HTTP status other than 200 without a readable fault
        Fault,     // a SOAP fault sent by the server (HTTP 500, or 200)
        Protocol,  // an answer that cannot be read (bad XML, bad multipart, too big...)
        TooLarge,  // attachments beyond the limit set for the call, refused as they arrived
        LocalWrite, // an attachment could not be written to disk here (disk full...)
        Cancelled, // the call was stopped by SoapClient::cancel()
    };
    SoapError(Kind kind, const QString &message, int code = 0, const QString &faultCode = {},
              const QString &detail = {});
    Kind kind() const { return m_kind; }
    // The fault text: what the user sees after "ERREUR D'EXCEPTION\r\r".
    QString message() const { return m_message; }
    // HTTP status for Http and Fault, the QNetworkReply::NetworkError for Transport, 0 otherwise.
    int code() const { return m_code; }
    QString faultCode() const { return m_faultCode; }
    QString detail() const { return m_detail; }

private:
    Kind m_kind;
    QString m_message;
    int m_code;
    QString m_faultCode;
    QString m_detail;
};

// A file received as an attachment. Its bytes were streamed to a temporary
// file in the SoapClient's attachment folder; saveAs() moves it into place
// (one rename when both are on the same file system, else a copy). The
// temporary file is removed when the object goes away without being saved.
class SoapAttachment
{
public:
    SoapAttachment(const QString &temporaryPath, const QString &contentType, const QString &contentId);
    ~SoapAttachment();
    SoapAttachment(const SoapAttachment &) = delete;
    SoapAttachment &operator=(const SoapAttachment &) = delete;

    QString contentType() const { return m_contentType; } // as sent: "application/binary", "zip", ...
    QString contentId() const { return m_contentId; }     // without angle brackets
    QString contentLocation() const { return m_contentLocation; }
    void setContentLocation(const QString &location) { m_contentLocation = location; }
    qint64 size() const;
    QString temporaryPath() const { return m_path; }
    // Moves the bytes to `path`, replacing a file of that name. A failure
    // leaves no partial file at `path` and says why in `error`.
    bool saveAs(const QString &path, QString *error = nullptr);

private:
    QString m_path;
    QString m_contentType;
    QString m_contentId;
    QString m_contentLocation;
    bool m_saved = false;
};
using SoapAttachmentPtr = std::shared_ptr<SoapAttachment>;

// The server's interface. Exposed: operations 1 to 12 and 28 to 35 of the
// server's declaration. The test operations echoString ... echoDecimal
// (13 to 27) are not exposed here; SoapClient::call can still build their
// envelopes (the wire code knows all 35 operations in declaration order).
class IEchoService
{
public:
    virtual ~IEchoService() = default;

    virtual QString echoVolumeDuZip(const QString &value) = 0;
    virtual QString echoEffacerZip(const QString &value) = 0;
    virtual QString echoEffacerACK(const QString &NomDuACK) = 0;
    virtual QString echoEffacerERR(const QString &NomDuERR) = 0;
    virtual QString echoEffacerOk2(const QString &NomDuOk2) = 0;
    virtual QString echoConnexion(const QString &value) = 0;
    virtual QString echoPassWord(const QString &value) = 0;
    virtual QString echoZipDisponible(const QString &value) = 0;
    virtual QString echoACKDisponible(const QString &REquete) = 0;
    // Acces is in/out: sent, then replaced by the server's value.
    virtual QString echoACKouERR(const QString &REquete, QString &Acces) = 0;
    virtual QString echoAckErrOk2(const QString &REquete, QString &Acces) = 0;
    virtual QString echoReqDejaLa(const QString &value) = 0;

    // The attachment named `name`, streamed to a temporary file.
    virtual SoapAttachmentPtr GetAttachment(const QString &name, const QString &Usager) = 0;
    // Sends the file at `filePath` as the attachment (content type
    // "application/binary", transfer encoding "8bit"), streamed from disk.
    virtual bool SendAttachment(const QString &name, const QString &filePath) = 0;
    virtual QStringList GetAttachmentList(const QString &Usager) = 0;
    virtual QString DebutDownLoadZip(const QString &NomDuZip, int VolumePaquet) = 0;
    virtual QString DebutEnvoiSplit(const QString &NomDuZip) = 0;
    virtual QString FinEnvoiSplit(const QString &NomDuZip) = 0;
    virtual QString FinDownLoadZip(const QString &NomDuZip) = 0;
    virtual QStringList GetSplitFileList(const QString &NomDuZip) = 0;
};

class SoapClientPrivate;

// One SOAP client object. Create it with the window that shows its progress;
// it must live in the user-interface thread.
class SoapClient
{
public:
    SoapClient();
    ~SoapClient();
    SoapClient(const SoapClient &) = delete;
    SoapClient &operator=(const SoapClient &) = delete;

    void setUrl(const QString &url);
    QString url() const;

    // Called once per 2048 bytes of answer received (and once for a last
    // shorter block), with the bytes received so far and the announced total
    // (-1 when unknown). The main window counts 2048 per call while a
    // download runs and ignores the calls otherwise.
    void setReceivingDataHandler(std::function<void(qint64 received, qint64 total)> handler);
    // Called as the request body goes out, with the bytes sent and the total.
    void setPostingDataHandler(std::function<void(qint64 sent, qint64 total)> handler);

    // Folder for received attachments until they are saved (default: the
    // system's temporary folder). Use the folder they will be saved to so
    // that saving is one rename.
    void setAttachmentFolder(const QString &folder);
    QString attachmentFolder() const;
    // An XML answer (or the XML part of a multipart answer) above this many
    // bytes is refused with a Protocol error (default 8 MiB).
    void setMaxXmlSize(qint64 bytes);
    // A call with no byte moving for this long fails with a Transport error
    // (default 60000 ms; 0 waits for ever).
    void setTransferTimeout(int milliseconds);
    // The most bytes that the attachments of one answer may hold together;
    // -1 (the default) sets no limit. An attachment announced or arriving
    // beyond it stops the call at once with a TooLarge error, and what came
    // of it is removed.
    void setAttachmentLimit(qint64 bytes);
    qint64 attachmentLimit() const;
    // Stops the call in progress, if any (from code run while it waits, such
    // as a window closed by the user): it ends with a Cancelled error and
    // leaves no received file behind. Does nothing between calls.
    void cancel();
    bool callInProgress() const;

    // The interface bound to this client object (always the same object).
    IEchoService &service();

    // The private side, for the wire-level call of soapcall.h.
    SoapClientPrivate &impl() { return *d; }

private:
    std::unique_ptr<SoapClientPrivate> d;
};

// "http://" + address + (":" + port unless the port, trimmed, is empty or
// "80") + "/" + alias + "/strandelsvr.exe/soap/echoservice".
QString ServiceUrl(const QString &adresseIp, const QString &port, const QString &alias);

// Sets ServiceUrl(...) on the client object and returns its interface. Call
// it before every call so that changed settings take effect at once.
IEchoService &ServiceProxy(SoapClient &client, const QString &adresseIp, const QString &port,
                           const QString &alias);

// Shows one error text. Texts use "\r" for line breaks, as all the client's
// messages do; the box turns them into line breaks.
using ErrorBox = std::function<void(const QString &text)>;
// A QMessageBox of type error, OK button, caption the application display name.
ErrorBox DefaultErrorBox();
// "ERREUR D'EXCEPTION\r\r" + the error's message.
QString ExceptionText(const SoapError &error);

// echoConnexion("OK"): true exactly when the answer is "OK". Any SoapError
// gives false without a message.
bool TestConnection(IEchoService &service);
// echoPassWord(fichierZip + "/" + usager + "/" + motDePasse): true exactly
// when the answer is "OK". A SoapError shows ExceptionText and gives false.
bool TestAccess(IEchoService &service, const QString &fichierZip, const QString &usager,
                const QString &motDePasse, const ErrorBox &errorBox);
// echoZipDisponible(name): "ERREUR" or "" gives "" (nothing available), "OK"
// gives name + ".zip", any other answer is the archive name. A SoapError
// shows ExceptionText and gives "".
QString AvailableArchive(IEchoService &service, const QString &name, const ErrorBox &errorBox);
// echoVolumeDuZip(archive): the size in bytes as decimal text; a SoapError
// shows ExceptionText and gives "0".
QString ArchiveVolume(IEchoService &service, const QString &archive, const ErrorBox &errorBox);
// echoEffacerZip(archive + "/" + usager + "/" + motDePasse): true when the
// answer is "OK"; a SoapError shows ExceptionText and gives false.
bool DeleteServerArchive(IEchoService &service, const QString &archive, const QString &usager,
                         const QString &motDePasse, const ErrorBox &errorBox);
// echoReqDejaLa(fichierZip): true when a request of this user is pending,
// that is when the answer is anything but exactly "OK"; the answer goes to
// `answer`. A SoapError shows ExceptionText and counts as none pending.
bool PendingRequest(IEchoService &service, const QString &fichierZip, QString *answer,
                    const ErrorBox &errorBox);

} // namespace strandel
