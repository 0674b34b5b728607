// The wire format without a server: envelopes and MIME framing against
// hand-written golden messages, the liberal reading of answers, the strict
// reading of requests, and Python's own MIME parser as an outside check.

#include "transfer/core/soapmime.h"
#include "transfer/core/soapwire.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace strandel::soap;

namespace {

const char kGoldenGetAttachment[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
    "  xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
    "  xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
    " <SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
    "  <NS1:GetAttachment xmlns:NS1=\"urn:EchoServiceIntf-IEchoService\">\n"
    "   <name xsi:type=\"xsd:string\">CLINIQUE.zip.001</name><Usager xsi:type=\"xsd:string\">U1</Usager>\n"
    "  </NS1:GetAttachment>\n"
    " </SOAP-ENV:Body>\n"
    "</SOAP-ENV:Envelope>";

// Collects every part of a multipart body.
struct Collected
{
    std::vector<PartHeaders> headers;
    std::vector<QByteArray> bodies;
};

MimeParser::SinkFactory collectInto(Collected *c)
{
    return [c](int, const PartHeaders &h, QString *) -> std::unique_ptr<PartSink> {
        c->headers.push_back(h);
        c->bodies.emplace_back();
        return std::make_unique<MemorySink>(&c->bodies.back(), 1 << 24);
    };
}

// Feeds `body` in pieces of `step` bytes.
bool parseAll(const QByteArray &boundary, const QByteArray &body, Collected *c, bool strict, int step,
              QString *error = nullptr)
{
    MimeParser::Options o;
    o.strict = strict;
    MimeParser p(boundary, collectInto(c), o);
    bool ok = true;
    for (int i = 0; ok && i < body.size(); i += step)
        ok = p.feed(body.constData() + i, qMin<qint64>(step, body.size() - i));
    ok = ok && p.finish();
    if (error)
        *error = p.error();
    return ok;
}

QByteArray attachmentRequestBody(const QByteArray &payload)
{
    OutgoingPart part;
    part.bytes = payload;
    part.contentId = QStringLiteral("6A1B2C3D-0000-4000-8000-00000000ABCD");
    QString error;
    return MultipartBody::build(requestEnvelope(QStringLiteral("SendAttachment"),
                                                {stringValue(QStringLiteral("name"), QStringLiteral("A.req")),
                                                 attachmentValue(QStringLiteral("Attachment"), part.contentId)}),
                                {part}, &error);
}

} // namespace

TEST(SoapWire, RequestEnvelopeIsByteExact)
{
    const QByteArray env = requestEnvelope(QStringLiteral("GetAttachment"),
                                           {stringValue(QStringLiteral("name"), QStringLiteral("CLINIQUE.zip.001")),
                                            stringValue(QStringLiteral("Usager"), QStringLiteral("U1"))});
    EXPECT_EQ(env, QByteArray(kGoldenGetAttachment));
    EXPECT_EQ(soapAction(QStringLiteral("GetAttachment")), QByteArray("\"urn:EchoServiceIntf-IEchoService#GetAttachment\""));

    // Typed parameters and the attachment reference (no xsi:type on it).
    const QByteArray typed = requestEnvelope(QStringLiteral("DebutDownLoadZip"),
                                             {stringValue(QStringLiteral("NomDuZip"), QStringLiteral("A&B<1>.zip")),
                                              intValue(QStringLiteral("VolumePaquet"), 1000000)});
    EXPECT_TRUE(typed.contains("<NomDuZip xsi:type=\"xsd:string\">A&amp;B&lt;1&gt;.zip</NomDuZip>"
                               "<VolumePaquet xsi:type=\"xsd:int\">1000000</VolumePaquet>\n"));
    const QByteArray att = requestEnvelope(QStringLiteral("SendAttachment"),
                                           {attachmentValue(QStringLiteral("Attachment"), QStringLiteral("ABC-1"))});
    EXPECT_TRUE(att.contains("<Attachment href=\"cid:ABC-1\"/>"));
}

TEST(SoapWire, MultipartRequestIsByteExact)
{
    const QByteArray payload("\x00\x01\r\n--MIME_boundaryB0R9532143182121\r\nend", 44);
    const QByteArray env = requestEnvelope(QStringLiteral("SendAttachment"),
                                           {stringValue(QStringLiteral("name"), QStringLiteral("A.req")),
                                            attachmentValue(QStringLiteral("Attachment"),
                                                            QStringLiteral("6A1B2C3D-0000-4000-8000-00000000ABCD"))});
    const QByteArray expected = "--MIME_boundaryB0R9532143182121\r\n"
                                "Content-Type: text/xml\r\n"
                                "Content-ID: <http://www.borland.com/rootpart.xml>\r\n"
                                "Content-Location: http://www.borland.com/rootpart.xml\r\n"
                                "Content-Length: "
                                + QByteArray::number(env.size())
                                + "\r\n"
                                  "\r\n"
                                + env
                                + "\r\n--MIME_boundaryB0R9532143182121\r\n"
                                  "Content-ID: <6A1B2C3D-0000-4000-8000-00000000ABCD>\r\n"
                                  "Content-Length: 44\r\n"
                                  "Content-Type: application/binary\r\n"
                                  "Content-transfer-encoding: 8bit\r\n"
                                  "\r\n"
                                + payload + "\r\n--MIME_boundaryB0R9532143182121--\r\n";
    EXPECT_EQ(attachmentRequestBody(payload), expected);
    EXPECT_EQ(multipartContentType(), QByteArray("multipart/related; boundary=MIME_boundaryB0R9532143182121"));

    const QString id = newContentId();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(id, id.toUpper());
    EXPECT_FALSE(id.contains(QLatin1Char('{')));
}

TEST(SoapWire, MultipartBodyStreamsFromFileAndRefusesMissingFile)
{
    QTemporaryDir dir;
    QByteArray payload(300000, 'x');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    QFile f(dir.filePath(QStringLiteral("piece.001")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(payload);
    f.close();
    OutgoingPart part;
    part.filePath = f.fileName();
    part.contentId = QStringLiteral("ID-1");
    MultipartBody body("<x/>", {part});
    ASSERT_TRUE(body.open(QIODevice::ReadOnly));
    // Read in odd pieces, with a seek back, as the HTTP layer may do.
    QByteArray all;
    char buf[777];
    qint64 n;
    while ((n = body.read(buf, sizeof buf)) > 0)
        all.append(buf, n);
    EXPECT_EQ(all.size(), body.size());
    ASSERT_TRUE(body.seek(10));
    EXPECT_EQ(body.read(5), all.mid(10, 5));
    Collected c;
    ASSERT_TRUE(parseAll(kBoundary, all, &c, true, 4096));
    ASSERT_EQ(c.bodies.size(), 2u);
    EXPECT_EQ(c.bodies[0], QByteArray("<x/>"));
    EXPECT_EQ(c.bodies[1], payload);

    OutgoingPart missing;
    missing.filePath = dir.filePath(QStringLiteral("absent"));
    MultipartBody bad("<x/>", {missing});
    EXPECT_FALSE(bad.open(QIODevice::ReadOnly));
    EXPECT_TRUE(bad.errorString().contains(QStringLiteral("introuvable")));
}

TEST(SoapWire, PythonEmailParserReadsOurMultipart)
{
    const QByteArray payload("binary\x00\xff\r\n--not-a-boundary\r\n", 33);
    const QByteArray body = "Content-Type: " + multipartContentType() + "\r\nMIME-Version: 1.0\r\n\r\n"
                            + attachmentRequestBody(payload);
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"),
              QStringLiteral("import sys, email\n"
                             "m = email.message_from_bytes(sys.stdin.buffer.read())\n"
                             "parts = m.get_payload()\n"
                             "print(len(parts))\n"
                             "for p in parts:\n"
                             "  print(p['Content-ID'], p['Content-Length'], len(p.get_payload(decode=True)))\n"
                             "sys.stdout.flush()\n"
                             "sys.stdout.buffer.write(parts[1].get_payload(decode=True))\n")});
    ASSERT_TRUE(py.waitForStarted());
    py.write(body);
    py.closeWriteChannel();
    ASSERT_TRUE(py.waitForFinished(20000));
    const QByteArray out = py.readAllStandardOutput();
    const QList<QByteArray> lines = out.split('\n');
    ASSERT_GE(lines.size(), 4) << out.constData();
    EXPECT_EQ(lines[0], "2");
    EXPECT_TRUE(lines[1].startsWith("<http://www.borland.com/rootpart.xml> "));
    EXPECT_EQ(lines[2], "<6A1B2C3D-0000-4000-8000-00000000ABCD> 33 33");
    EXPECT_TRUE(out.endsWith(payload));
}

TEST(SoapWire, MimeParserAcceptsServerAnswerForms)
{
    // Quoted boundary with start and type, a part with no Content-Length,
    // a part known only by Content-Location, no closing "--".
    QByteArray boundary;
    ASSERT_TRUE(parseMultipartContentType(
        "multipart/related; boundary=\"MIME_boundaryB0R9532143182121\"; start=\"<http://www.borland.com/rootpart.xml>\"; type=\"text/xml\"",
        &boundary));
    EXPECT_EQ(boundary, QByteArray(kBoundary));
    ASSERT_TRUE(parseMultipartContentType("Multipart/Related;type=\"text/xml\";boundary=abc", &boundary));
    EXPECT_EQ(boundary, QByteArray("abc"));
    EXPECT_FALSE(parseMultipartContentType("text/xml; boundary=abc", &boundary));

    const QByteArray body = "preamble\r\n--abc\r\nContent-Type: text/xml\r\n\r\n<a/>\r\n--abc\r\n"
                            "content-location:  file.bin\r\ncontent-type: zip\r\n\r\nDATA\r\n--ab\r\nX\r\n--abc";
    for (int step : {1, 3, 4096}) {
        Collected c;
        QString error;
        ASSERT_TRUE(parseAll("abc", body, &c, false, step, &error)) << qPrintable(error);
        ASSERT_EQ(c.bodies.size(), 2u);
        EXPECT_EQ(c.bodies[0], QByteArray("<a/>"));
        EXPECT_EQ(c.bodies[1], QByteArray("DATA\r\n--ab\r\nX"));
        EXPECT_EQ(c.headers[1].contentLocation(), QStringLiteral("file.bin"));
        EXPECT_EQ(c.headers[1].contentType(), QByteArray("zip"));
    }
}

TEST(SoapWire, MimeParserRefusesBrokenFraming)
{
    struct Case
    {
        const char *what;
        QByteArray body;
        bool strict;
    };
    const Case cases[] = {
        {"no Content-Length (strict)", "--b\r\nContent-Type: text/xml\r\n\r\n<a/>\r\n--b--\r\n", true},
        {"header not split at \": \"", "--b\r\nContent-Length:4\r\n\r\n<a/>\r\n--b--\r\n", true},
        {"header line over 1024 bytes", "--b\r\nX-Long: " + QByteArray(1100, 'x') + "\r\nContent-Length: 4\r\n\r\n<a/>\r\n--b--\r\n", false},
        {"length too short for the bytes", "--b\r\nContent-Length: 3\r\n\r\n<a/>\r\n--b--\r\n", false},
        {"length longer than the message", "--b\r\nContent-Length: 400\r\n\r\n<a/>\r\n--b--\r\n", false},
        {"bad length", "--b\r\nContent-Length: -4\r\n\r\n<a/>\r\n--b--\r\n", false},
        {"truncated without length", "--b\r\nContent-Type: text/xml\r\n\r\n<a/>", false},
        {"no boundary at all", "<html>nothing</html>", false},
        {"strict: missing closing dashes", "--b\r\nContent-Length: 4\r\n\r\n<a/>\r\n--b", true},
    };
    for (const Case &c : cases) {
        Collected col;
        EXPECT_FALSE(parseAll("b", c.body, &col, c.strict, 7)) << c.what;
    }
}

TEST(SoapWire, StrictContentTypeCheckOfTheServer)
{
    QByteArray b;
    QString why;
    EXPECT_TRUE(checkStrictMultipartContentType(multipartContentType(), &b, &why));
    EXPECT_EQ(b, QByteArray(kBoundary));
    EXPECT_FALSE(checkStrictMultipartContentType("multipart/related; charset=utf-8; boundary=x", &b, &why));
    EXPECT_FALSE(checkStrictMultipartContentType("multipart/related; boundary=\"x\"", &b, &why));
    EXPECT_FALSE(checkStrictMultipartContentType("multipart/related;boundary=x", &b, &why));
}

TEST(SoapWire, ReadsAnswerForms)
{
    // Other prefixes, no declaration, "Return" in another case, in/out parameter.
    Message m;
    QString error;
    ASSERT_TRUE(readMessage("<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
                            "<x:echoAckErrOk2Response xmlns:x=\"urn:EchoServiceIntf-IEchoService\">"
                            "<Return>A123 &amp; co</Return><Acces>ERR</Acces></x:echoAckErrOk2Response></e:Body></e:Envelope>",
                            &m, &error))
        << qPrintable(error);
    EXPECT_EQ(m.text(m.returnNode()), QStringLiteral("A123 & co"));
    EXPECT_EQ(m.text(m.parameter(QStringLiteral("Acces"), Qt::CaseSensitive)), QStringLiteral("ERR"));
    EXPECT_EQ(m.parameter(QStringLiteral("acces"), Qt::CaseSensitive), nullptr);

    // The only child, whatever its name.
    ASSERT_TRUE(readMessage("<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body><r><result>OK</result></r>"
                            "</S:Body></S:Envelope>",
                            &m, &error));
    EXPECT_EQ(m.text(m.returnNode()), QStringLiteral("OK"));

    // A string array inline, then by reference.
    ASSERT_TRUE(readMessage(responseEnvelope(QStringLiteral("GetSplitFileList"),
                                             {stringArrayValue(QStringLiteral("return"), {"A.zip.001", "A.zip.002"})}),
                            &m, &error));
    EXPECT_EQ(m.stringArray(m.returnNode()), (QStringList{"A.zip.001", "A.zip.002"}));
    Value ref = stringArrayValue(QStringLiteral("return"), {"x", "y", "z"});
    ref.multiRef = true;
    const QByteArray multi = responseEnvelope(QStringLiteral("GetAttachmentList"), {ref});
    EXPECT_TRUE(multi.contains("<return href=\"#1\"/>"));
    ASSERT_TRUE(readMessage(multi, &m, &error));
    EXPECT_EQ(m.stringArray(m.returnNode()), (QStringList{"x", "y", "z"}));

    // A reference that points nowhere, or to itself, gives nothing.
    ASSERT_TRUE(readMessage("<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body>"
                            "<r><return href=\"#9\"/></r><a id=\"7\" href=\"#7\"/></S:Body></S:Envelope>",
                            &m, &error));
    EXPECT_TRUE(m.stringArray(m.returnNode()).isEmpty());

    // An attachment reference.
    ASSERT_TRUE(readMessage(responseEnvelope(QStringLiteral("GetAttachment"),
                                             {attachmentValue(QStringLiteral("return"), QStringLiteral("AB-12"))}),
                            &m, &error));
    EXPECT_EQ(Message::attachmentRef(m.returnNode()), QStringLiteral("AB-12"));
}

TEST(SoapWire, ReadsFaults)
{
    Message m;
    QString error;
    ASSERT_TRUE(readMessage(faultEnvelope(QStringLiteral("Accès <refusé> & fermé"), {}, QStringLiteral("détail")), &m, &error));
    EXPECT_TRUE(m.isFault);
    EXPECT_EQ(m.faultCode, QStringLiteral("SOAP-ENV:Server"));
    EXPECT_EQ(m.faultString, QStringLiteral("Accès <refusé> & fermé"));
    EXPECT_EQ(m.faultDetail, QStringLiteral("détail"));
    EXPECT_EQ(m.operation, nullptr);
}

TEST(SoapWire, RefusesDangerousXml)
{
    Message m;
    QString error;
    EXPECT_FALSE(readMessage("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x \"xxxxxxxx\"><!ENTITY y \"&x;&x;&x;\">]>"
                             "<a>&y;</a>",
                             &m, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("déclaration de type")));
    EXPECT_FALSE(readMessage("<a>&undefined;</a>", &m, &error));
    EXPECT_FALSE(readMessage("<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body>"
                             + QByteArray("<a>").repeated(5000) + QByteArray("</a>").repeated(5000)
                             + "</S:Body></S:Envelope>",
                             &m, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("profonde")));
    EXPECT_FALSE(readMessage("<html>not soap</html>", &m, &error));
    EXPECT_FALSE(readMessage("<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body>", &m, &error));
    EXPECT_FALSE(readMessage("", &m, &error));
}

TEST(SoapWire, AllOperationsRoundTripInDeclarationOrder)
{
    const auto &ops = operations();
    ASSERT_EQ(ops.size(), 35u);
    EXPECT_STREQ(ops.front().name, "echoVolumeDuZip");
    EXPECT_STREQ(ops[10].name, "echoAckErrOk2");
    EXPECT_STREQ(ops[27].name, "GetAttachment");
    EXPECT_STREQ(ops.back().name, "GetSplitFileList");
    for (const OperationInfo &op : ops) {
        QList<Value> params;
        for (const ParamInfo &p : op.params) {
            Value v;
            v.name = QLatin1String(p.name);
            v.type = p.type;
            v.text = QStringLiteral("1");
            if (p.type == Type::Struct || p.type == Type::StringArray || p.type == Type::IntArray)
                v.items = {QStringLiteral("1"), QStringLiteral("2")};
            params.append(v);
        }
        Message m;
        QString error;
        ASSERT_TRUE(readMessage(requestEnvelope(QLatin1String(op.name), params), &m, &error)) << op.name;
        ASSERT_NE(m.operation, nullptr);
        EXPECT_EQ(m.operation->name, QLatin1String(op.name));
        EXPECT_EQ(m.operation->ns, QLatin1String(kServiceNamespace));
        EXPECT_FALSE(m.body->contentBeforeFirstChild);
        for (const ParamInfo &p : op.params)
            EXPECT_NE(m.parameter(QLatin1String(p.name).toString().toUpper(), Qt::CaseInsensitive), nullptr)
                << op.name << " " << p.name;
    }
}

TEST(SoapWire, TextBeforeTheOperationIsNoticed)
{
    Message m;
    QString error;
    ASSERT_TRUE(readMessage("<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body>oops"
                            "<n:echoConnexion xmlns:n=\"urn:EchoServiceIntf-IEchoService\"/></S:Body></S:Envelope>",
                            &m, &error));
    EXPECT_TRUE(m.body->contentBeforeFirstChild);
}

TEST(SoapWire, ObjectsGoAsMultiReferencesAfterTheOperation)
{
    Value s;
    s.name = QStringLiteral("value");
    s.type = Type::Struct;
    s.items = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("3"), QStringLiteral("4.5")};
    const QByteArray env = requestEnvelope(QStringLiteral("echoSoapStruct"), {s});
    EXPECT_TRUE(env.contains("   <value href=\"#1\"/>\n  </NS1:echoSoapStruct>\n  <NS2:SoapStruct id=\"1\" "
                             "xsi:type=\"NS2:SoapStruct\" xmlns:NS2=\"urn:EchoServiceIntf\"><varString xsi:type=\"xsd:string\">a"))
        << env.constData();
    Message m;
    QString error;
    ASSERT_TRUE(readMessage(env, &m, &error)) << qPrintable(error);
    EXPECT_EQ(m.operation->name, QStringLiteral("echoSoapStruct"));
    EXPECT_EQ(m.stringArray(m.parameter(QStringLiteral("value"), Qt::CaseSensitive)),
              (QStringList{"a", "b", "3", "4.5"}));

    Value list = s;
    list.type = Type::StructArray;
    list.items += QStringList{"c", "d", "5", "6"};
    ASSERT_TRUE(readMessage(requestEnvelope(QStringLiteral("echoSoapStructArray"), {list}), &m, &error));
    const XmlNode *array = m.resolve(m.parameter(QStringLiteral("value"), Qt::CaseSensitive));
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->children.size(), 2u);
    EXPECT_EQ(m.stringArray(&array->children[1]), (QStringList{"c", "d", "5", "6"}));
}
