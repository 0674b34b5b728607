#include "transfer/core/echoservice.h"

#include "transfer/core/soapcall.h"

#include <QApplication>
#include <QMessageBox>

namespace strandel {

namespace {

using soap::stringValue;

// IEchoService over one SoapClient.
class EchoServiceClient : public IEchoService
{
public:
    explicit EchoServiceClient(SoapClient &client) : m_client(client) {}

    QString echoVolumeDuZip(const QString &value) override { return one("echoVolumeDuZip", "value", value); }
    QString echoEffacerZip(const QString &value) override { return one("echoEffacerZip", "value", value); }
    QString echoEffacerACK(const QString &v) override { return one("echoEffacerACK", "NomDuACK", v); }
    QString echoEffacerERR(const QString &v) override { return one("echoEffacerERR", "NomDuERR", v); }
    QString echoEffacerOk2(const QString &v) override { return one("echoEffacerOk2", "NomDuOk2", v); }
    QString echoConnexion(const QString &value) override { return one("echoConnexion", "value", value); }
    QString echoPassWord(const QString &value) override { return one("echoPassWord", "value", value); }
    QString echoZipDisponible(const QString &value) override { return one("echoZipDisponible", "value", value); }
    QString echoACKDisponible(const QString &r) override { return one("echoACKDisponible", "REquete", r); }
    QString echoACKouERR(const QString &r, QString &acces) override { return inOut("echoACKouERR", r, acces); }
    QString echoAckErrOk2(const QString &r, QString &acces) override { return inOut("echoAckErrOk2", r, acces); }
    QString echoReqDejaLa(const QString &value) override { return one("echoReqDejaLa", "value", value); }

    SoapAttachmentPtr GetAttachment(const QString &name, const QString &usager) override
    {
        const SoapCallResult r = soapCall(
            m_client, QStringLiteral("GetAttachment"),
            {stringValue(QStringLiteral("name"), name), stringValue(QStringLiteral("Usager"), usager)});
        const soap::XmlNode *ret = r.message.resolve(r.message.returnNode());
        const QString ref = soap::Message::attachmentRef(ret);
        if (ref.isEmpty())
            throw SoapError(SoapError::Kind::Protocol,
                            QStringLiteral("Réponse sans référence de pièce jointe pour %1").arg(name));
        SoapAttachmentPtr a = r.attachment(ref);
        if (!a)
            throw SoapError(SoapError::Kind::Protocol,
                            QStringLiteral("Pièce jointe %1 absente de la réponse (%2)").arg(ref, name));
        return a;
    }

    bool SendAttachment(const QString &name, const QString &filePath) override
    {
        soap::OutgoingPart part;
        part.filePath = filePath;
        part.contentId = soap::newContentId();
        const SoapCallResult r = soapCall(
            m_client, QStringLiteral("SendAttachment"),
            {stringValue(QStringLiteral("name"), name), soap::attachmentValue(QStringLiteral("Attachment"), part.contentId)},
            {part});
        const QString t = r.returnText().trimmed();
        return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t == QLatin1String("1");
    }

    QStringList GetAttachmentList(const QString &usager) override
    {
        return list("GetAttachmentList", "Usager", usager);
    }

    QString DebutDownLoadZip(const QString &nomDuZip, int volumePaquet) override
    {
        const SoapCallResult r =
            soapCall(m_client, QStringLiteral("DebutDownLoadZip"),
                     {stringValue(QStringLiteral("NomDuZip"), nomDuZip), soap::intValue(QStringLiteral("VolumePaquet"), volumePaquet)});
        return r.returnText();
    }
    QString DebutEnvoiSplit(const QString &n) override { return one("DebutEnvoiSplit", "NomDuZip", n); }
    QString FinEnvoiSplit(const QString &n) override { return one("FinEnvoiSplit", "NomDuZip", n); }
    QString FinDownLoadZip(const QString &n) override { return one("FinDownLoadZip", "NomDuZip", n); }
    QStringList GetSplitFileList(const QString &n) override { return list("GetSplitFileList", "NomDuZip", n); }

private:
    QString one(const char *op, const char *param, const QString &value)
    {
        return soapCall(m_client, QLatin1String(op), {stringValue(QLatin1String(param), value)}).returnText();
    }

    QString inOut(const char *op, const QString &requete, QString &acces)
    {
        const SoapCallResult r = soapCall(m_client, QLatin1String(op),
                                          {stringValue(QStringLiteral("REquete"), requete),
                                           stringValue(QStringLiteral("Acces"), acces)});
        const QString answer = r.returnText();
        if (const soap::XmlNode *a = r.message.parameter(QStringLiteral("Acces"), Qt::CaseSensitive))
            acces = r.message.text(a);
        return answer;
    }

    QStringList list(const char *op, const char *param, const QString &value)
    {
        const SoapCallResult r = soapCall(m_client, QLatin1String(op), {stringValue(QLatin1String(param), value)});
        const soap::XmlNode *ret = r.message.returnNode();
        if (!ret)
            throw SoapError(SoapError::Kind::Protocol, QStringLiteral("Réponse du serveur sans valeur de retour"));
        return r.message.stringArray(ret);
    }

    SoapClient &m_client;
};

} // namespace

IEchoService *newEchoServiceClient(SoapClient &client)
{
    return new EchoServiceClient(client);
}

QString ServiceUrl(const QString &adresseIp, const QString &port, const QString &alias)
{
    QString url = QStringLiteral("http://") + adresseIp;
    const QString p = port.trimmed();
    if (!p.isEmpty() && p != QLatin1String("80"))
        url += QLatin1Char(':') + p;
    return url + QLatin1Char('/') + alias + QLatin1String(soap::kServicePath);
}

IEchoService &ServiceProxy(SoapClient &client, const QString &adresseIp, const QString &port, const QString &alias)
{
    client.setUrl(ServiceUrl(adresseIp, port, alias));
    return client.service();
}

ErrorBox DefaultErrorBox()
{
    return [](const QString &text) {
        QString shown = text;
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(), shown);
    };
}

QString ExceptionText(const SoapError &error)
{
    return QStringLiteral("ERREUR D'EXCEPTION\r\r") + error.message();
}

bool TestConnection(IEchoService &service)
{
    try {
        return service.echoConnexion(QStringLiteral("OK")) == QLatin1String("OK");
    } catch (const SoapError &) {
        return false;
    }
}

bool TestAccess(IEchoService &service, const QString &fichierZip, const QString &usager, const QString &motDePasse,
                const ErrorBox &errorBox)
{
    try {
        return service.echoPassWord(fichierZip + QLatin1Char('/') + usager + QLatin1Char('/') + motDePasse)
               == QLatin1String("OK");
    } catch (const SoapError &e) {
        if (errorBox)
            errorBox(ExceptionText(e));
        return false;
    }
}

QString AvailableArchive(IEchoService &service, const QString &name, const ErrorBox &errorBox)
{
    try {
        const QString answer = service.echoZipDisponible(name);
        if (answer == QLatin1String("ERREUR"))
            return {};
        if (answer == QLatin1String("OK"))
            return name + QLatin1String(".zip");
        return answer;
    } catch (const SoapError &e) {
        if (errorBox)
            errorBox(ExceptionText(e));
        return {};
    }
}

QString ArchiveVolume(IEchoService &service, const QString &archive, const ErrorBox &errorBox)
{
    try {
        return service.echoVolumeDuZip(archive);
    } catch (const SoapError &e) {
        if (errorBox)
            errorBox(ExceptionText(e));
        return QStringLiteral("0");
    }
}

bool DeleteServerArchive(IEchoService &service, const QString &archive, const QString &usager,
                         const QString &motDePasse, const ErrorBox &errorBox)
{
    try {
        return service.echoEffacerZip(archive + QLatin1Char('/') + usager + QLatin1Char('/') + motDePasse)
               == QLatin1String("OK");
    } catch (const SoapError &e) {
        if (errorBox)
            errorBox(ExceptionText(e));
        return false;
    }
}

bool PendingRequest(IEchoService &service, const QString &fichierZip, QString *answer, const ErrorBox &errorBox)
{
    try {
        const QString a = service.echoReqDejaLa(fichierZip);
        if (answer)
            *answer = a;
        return a != QLatin1String("OK");
    } catch (const SoapError &e) {
        if (errorBox)
            errorBox(ExceptionText(e));
        if (answer)
            answer->clear();
        return false;
    }
}

} // namespace strandel
