// The test server refuses what the central server refuses, so that framing
// faults of the client cannot pass unnoticed; and it accepts the liberal
// parts (charset parameter, parameter names in any case and order).

#include "transfer/core/soapmime.h"
#include "transfer/core/soapwire.h"

#include "soaptestserver.h"

#include <gtest/gtest.h>

using namespace strandel::soap;
using strandel::testing::SoapTestServer;

namespace {

struct Raw
{
    int status = 0;
    QByteArray body;
};

class SoapServerFramingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(server.start(&error)) << qPrintable(error);
    }

    Raw post(const QByteArray &contentType, const QByteArray &body, const QByteArray &action)
    {
        QNetworkRequest req(QUrl(server.url()));
        req.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        if (!action.isNull())
            req.setRawHeader("SOAPAction", action);
        QNetworkReply *reply = nam.post(req, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        Raw r{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
        reply->deleteLater();
        return r;
    }

    QByteArray sendAttachmentBody(const QString &name, const QByteArray &payload, const QString &cid = "CID-1")
    {
        OutgoingPart part;
        part.bytes = payload;
        part.contentId = cid;
        QString error;
        return MultipartBody::build(requestEnvelope("SendAttachment", {stringValue("name", name), attachmentValue("Attachment", cid)}),
                                    {part}, &error);
    }

    SoapTestServer server;
    QNetworkAccessManager nam;
};

bool isRefusal(const Raw &r)
{
    return r.status == 500 && r.body.contains("Requête refusée");
}

} // namespace

TEST_F(SoapServerFramingTest, AcceptsTheExactFraming)
{
    const Raw ok = post(multipartContentType(), sendAttachmentBody("CLINIQUE_wav.zip.001", "DATA"), soapAction("SendAttachment"));
    EXPECT_EQ(ok.status, 200) << ok.body.constData();
    EXPECT_TRUE(ok.body.contains(">true</return>"));
    QFile stored(server.root() + "/users/CLINIQUE/dictees/CLINIQUE_wav.zip.001");
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), QByteArray("DATA"));

    // text/xml with a charset; parameter names in another case and order.
    const QByteArray env = "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                           "<SOAP-ENV:Body><NS1:echoPassWord xmlns:NS1=\"urn:EchoServiceIntf-IEchoService\">"
                           "<VALUE>CLINIQUE/U1/SECRET</VALUE></NS1:echoPassWord></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const Raw r = post("text/xml; charset=\"utf-8\"", env, soapAction("echoPassWord"));
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body.contains(">OK</return>")) << r.body.constData();
}

TEST_F(SoapServerFramingTest, RefusesWhatTheCentralServerRefuses)
{
    const QByteArray good = sendAttachmentBody("CLINIQUE_wav.zip.001", "DATA");
    const QByteArray action = soapAction("SendAttachment");
    // Something between the prefix and the boundary, a quoted boundary.
    EXPECT_TRUE(isRefusal(post("multipart/related; charset=utf-8; boundary=" + QByteArray(kBoundary), good, action)));
    EXPECT_TRUE(isRefusal(post("multipart/related; boundary=\"" + QByteArray(kBoundary) + "\"", good, action)));
    EXPECT_TRUE(isRefusal(post("application/soap+xml", requestEnvelope("echoConnexion", {stringValue("value", "OK")}),
                               soapAction("echoConnexion"))));

    // A part without Content-Length.
    QByteArray noLength = good;
    const int at = noLength.indexOf("Content-Length: 4\r\n");
    ASSERT_GT(at, 0);
    noLength.remove(at, int(qstrlen("Content-Length: 4\r\n")));
    EXPECT_TRUE(isRefusal(post(multipartContentType(), noLength, action)));

    // A header not split at ": ".
    QByteArray badHeader = good;
    badHeader.replace("Content-transfer-encoding: 8bit", "Content-transfer-encoding:8bit");
    EXPECT_TRUE(isRefusal(post(multipartContentType(), badHeader, action)));

    // A Content-Length that does not match the bytes.
    QByteArray lying = good;
    lying.replace("Content-Length: 4\r\n", "Content-Length: 3\r\n");
    EXPECT_TRUE(isRefusal(post(multipartContentType(), lying, action)));

    // Text before the operation element; a missing or wrong SOAPAction.
    QByteArray env = requestEnvelope("echoConnexion", {stringValue("value", "OK")});
    const QByteArray plain = env;
    env.replace("\n  <NS1:echoConnexion", "\n  texte<NS1:echoConnexion");
    EXPECT_TRUE(isRefusal(post("text/xml", env, soapAction("echoConnexion"))));
    EXPECT_TRUE(isRefusal(post("text/xml", plain, QByteArray())));
    EXPECT_TRUE(isRefusal(post("text/xml", plain, "urn:EchoServiceIntf-IEchoService#echoConnexion")));
    EXPECT_TRUE(isRefusal(post("text/xml", plain, soapAction("echoPassWord"))));
    EXPECT_EQ(post("text/xml", plain, soapAction("echoConnexion")).status, 200);

    // Nothing was stored by the refused uploads.
    EXPECT_FALSE(QFile::exists(server.root() + "/users/CLINIQUE/dictees/CLINIQUE_wav.zip.001"));
}

TEST_F(SoapServerFramingTest, RefusesFileNamesOutsideItsFolders)
{
    const Raw r = post(multipartContentType(), sendAttachmentBody("CLINIQUE/../../evil.req", "X"), soapAction("SendAttachment"));
    EXPECT_EQ(r.status, 500);
    EXPECT_FALSE(QFile::exists(server.root() + "/evil.req"));
    EXPECT_FALSE(QFile::exists(server.root() + "/users/evil.req"));
    // An attachment that the envelope does not point to.
    const Raw wrong = post(multipartContentType(), [&] {
        QByteArray b = sendAttachmentBody("CLINIQUE_wav.zip.001", "X", "CID-1");
        b.replace("Content-ID: <CID-1>", "Content-ID: <CID-2>");
        return b;
    }(), soapAction("SendAttachment"));
    EXPECT_EQ(wrong.status, 500);
    EXPECT_TRUE(wrong.body.contains("absente"));
}
