// The SOAP client against the loopback test server: the client-side
// operations, the URL rule, faults in every form, and the request, download,
// dictation and update exchanges end to end.

#include "transfer/core/echoservice.h"
#include "transfer/core/soapcall.h"

#include "soaptestserver.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace strandel;
using strandel::testing::SoapTestServer;

namespace {

class SoapClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(server.start(&error)) << qPrintable(error);
        client.setAttachmentFolder(work.path());
        client.setTransferTimeout(20000);
    }

    IEchoService &proxy() { return ServiceProxy(client, QStringLiteral("127.0.0.1"), QString::number(server.port()), server.alias()); }

    ErrorBox recorder()
    {
        return [this](const QString &text) { boxes.append(text); };
    }

    QStringList workFiles() const { return QDir(work.path()).entryList(QDir::Files, QDir::Name); }

    SoapTestServer server;
    SoapClient client;
    QTemporaryDir work;
    QStringList boxes;
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Bytes that do not compress.
QByteArray noise(int size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator g(seed);
    g.fillRange(reinterpret_cast<quint32 *>(b.data()), size / 4);
    return b;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The SoapError a call throws (kind Protocol with "none" when it throws nothing).
template <typename F>
SoapError errorOf(F &&call)
{
    try {
        call();
    } catch (const SoapError &e) {
        return e;
    }
    return SoapError(SoapError::Kind::Protocol, QStringLiteral("none"));
}

} // namespace

TEST(SoapUrl, PortRule)
{
    const QString tail = QStringLiteral("/strandelsvr.exe/soap/echoservice");
    EXPECT_EQ(ServiceUrl("srv.example", "80", "echo"), "http://srv.example/echo" + tail);
    EXPECT_EQ(ServiceUrl("srv.example", "", "echo"), "http://srv.example/echo" + tail);
    EXPECT_EQ(ServiceUrl("srv.example", "   ", "echo"), "http://srv.example/echo" + tail);
    EXPECT_EQ(ServiceUrl("srv.example", " 80 ", "echo"), "http://srv.example/echo" + tail);
    EXPECT_EQ(ServiceUrl("10.0.0.5", "8080", "echo"), "http://10.0.0.5:8080/echo" + tail);

    SoapClient c;
    ServiceProxy(c, "10.0.0.5", "8080", "a");
    EXPECT_EQ(c.url(), "http://10.0.0.5:8080/a" + tail);
    ServiceProxy(c, "10.0.0.6", "80", "b"); // rebuilt at every use
    EXPECT_EQ(c.url(), "http://10.0.0.6/b" + tail);
}

TEST_F(SoapClientTest, ConnectionAndAccess)
{
    EXPECT_TRUE(TestConnection(proxy()));
    EXPECT_TRUE(TestAccess(proxy(), "CLINIQUE", "U1", "SECRET", recorder()));
    EXPECT_FALSE(TestAccess(proxy(), "CLINIQUE", "U1", "FAUX", recorder()));
    EXPECT_FALSE(TestAccess(proxy(), "CLINIQUE", "U2", "SECRET", recorder()));
    EXPECT_TRUE(boxes.isEmpty()) << "an answer other than OK is not an error";

    // Another alias reaches nothing: a connection test fails silently.
    ServiceProxy(client, "127.0.0.1", QString::number(server.port()), "autre");
    EXPECT_FALSE(TestConnection(client.service()));

    // The server's answer is what counts: "ok" is not "OK".
    ASSERT_TRUE(server.control("answer echoConnexion ok\nanswer echoPassWord ok"));
    EXPECT_FALSE(TestConnection(proxy()));
    EXPECT_FALSE(TestAccess(proxy(), "CLINIQUE", "U1", "SECRET", recorder()));
}

TEST_F(SoapClientTest, UnreachableServer)
{
    ServiceProxy(client, "127.0.0.1", QString::number(SoapTestServer::closedPort()), "strandel");
    EXPECT_FALSE(TestConnection(client.service()));
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_FALSE(TestAccess(client.service(), "CLINIQUE", "U1", "SECRET", recorder()));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].startsWith("ERREUR D'EXCEPTION\r\r")) << qPrintable(boxes[0]);
    EXPECT_TRUE(boxes[0].contains("refusée")) << qPrintable(boxes[0]);

    const SoapError e = errorOf([&] { client.service().echoConnexion("OK"); });
    EXPECT_EQ(e.kind(), SoapError::Kind::Transport);

    // A host name that cannot be resolved.
    ServiceProxy(client, "hote-inexistant.invalid", "", "strandel");
    EXPECT_FALSE(TestConnection(client.service()));
}

TEST_F(SoapClientTest, AvailableArchiveAnswers)
{
    // Nothing prepared yet: the server says ERREUR.
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), QString());
    ASSERT_TRUE(server.control("answer echoZipDisponible OK"));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), "CLINIQUE.zip");
    ASSERT_TRUE(server.control("answer echoZipDisponible ERREUR"));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), QString());
    ASSERT_TRUE(server.control("answer echoZipDisponible "));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), QString());
    ASSERT_TRUE(server.control("answer echoZipDisponible CLINIQUE_2.zip"));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), "CLINIQUE_2.zip");
    EXPECT_TRUE(boxes.isEmpty());

    ASSERT_TRUE(server.control("mode echoZipDisponible fault Base de données indisponible"));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), QString());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], "ERREUR D'EXCEPTION\r\rBase de données indisponible");
}

TEST_F(SoapClientTest, PendingRequestVolumeAndDelete)
{
    QString answer;
    EXPECT_FALSE(PendingRequest(proxy(), "CLINIQUE", &answer, recorder()));
    EXPECT_EQ(answer, "OK");
    ASSERT_TRUE(server.control("answer echoReqDejaLa ok"));
    EXPECT_TRUE(PendingRequest(proxy(), "CLINIQUE", &answer, recorder()));
    EXPECT_EQ(answer, "ok");
    ASSERT_TRUE(server.control("mode echoReqDejaLa fault-raw"));
    EXPECT_FALSE(PendingRequest(proxy(), "CLINIQUE", &answer, recorder()));
    ASSERT_EQ(boxes.size(), 1);

    ASSERT_TRUE(server.writeFile("users/CLINIQUE/CLINIQUE.zip", QByteArray(12345, 'z')));
    EXPECT_EQ(ArchiveVolume(proxy(), "CLINIQUE.zip", recorder()), "12345");
    EXPECT_FALSE(DeleteServerArchive(proxy(), "CLINIQUE.zip", "U1", "FAUX", recorder()));
    EXPECT_TRUE(QFile::exists(server.root() + "/users/CLINIQUE/CLINIQUE.zip"));
    EXPECT_TRUE(DeleteServerArchive(proxy(), "CLINIQUE.zip", "U1", "SECRET", recorder()));
    EXPECT_FALSE(QFile::exists(server.root() + "/users/CLINIQUE/CLINIQUE.zip"));
    EXPECT_EQ(ArchiveVolume(proxy(), "CLINIQUE.zip", recorder()), "0");
    ASSERT_TRUE(server.control("mode echoVolumeDuZip fault\nmode echoEffacerZip http-404"));
    EXPECT_EQ(ArchiveVolume(proxy(), "CLINIQUE.zip", recorder()), "0");
    EXPECT_FALSE(DeleteServerArchive(proxy(), "CLINIQUE.zip", "U1", "SECRET", recorder()));
    EXPECT_EQ(boxes.size(), 3);
}

TEST_F(SoapClientTest, FaultForms)
{
    struct Case
    {
        const char *mode;
        SoapError::Kind kind;
        int code;
        const char *message; // contained in the message
    };
    const Case cases[] = {
        {"fault Fichier verrouillé", SoapError::Kind::Fault, 500, "Fichier verrouillé"},
        {"fault-detail Disque plein", SoapError::Kind::Fault, 500, "Disque plein"},
        {"fault-200 Refus en 200", SoapError::Kind::Fault, 200, "Refus en 200"},
        {"fault-raw", SoapError::Kind::Fault, 500, "Violation d'accès <0x0040A1B2> & arrêt"},
        {"fault-raw Access violation at address 00403F1C", SoapError::Kind::Fault, 500, "Access violation at address 00403F1C"},
        {"fault-multipart Erreur en plusieurs parties", SoapError::Kind::Fault, 500, "Erreur en plusieurs parties"},
        {"http-404", SoapError::Kind::Http, 404, "404"},
        {"garbage", SoapError::Kind::Protocol, 0, "enveloppe"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(server.control(QStringLiteral("mode echoConnexion %1").arg(QString::fromUtf8(c.mode))));
        const SoapError e = errorOf([&] { proxy().echoConnexion("OK"); });
        EXPECT_EQ(int(e.kind()), int(c.kind)) << c.mode << " " << qPrintable(e.message());
        EXPECT_EQ(e.code(), c.code) << c.mode;
        EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.message))) << c.mode << ": " << qPrintable(e.message());
        EXPECT_FALSE(TestConnection(proxy())) << c.mode;
    }
    ASSERT_TRUE(server.control("mode echoConnexion fault-detail X"));
    const SoapError e = errorOf([&] { proxy().echoConnexion("OK"); });
    EXPECT_EQ(e.faultCode(), "SOAP-ENV:Server");
    EXPECT_EQ(e.detail(), "Détail de l'erreur");
    // The client survives all of it.
    ASSERT_TRUE(server.control("reset"));
    EXPECT_TRUE(TestConnection(proxy()));
}

TEST_F(SoapClientTest, AnswerFormsAndInOutParameter)
{
    QString acces = QStringLiteral("?");
    EXPECT_EQ(proxy().echoAckErrOk2("CLINIQUE[2005-03-02 143005].req", acces), QString());
    ASSERT_TRUE(server.control("answer echoAckErrOk2 A123\nacces echoAckErrOk2 ERR\nmode echoAckErrOk2 alt-prefix"));
    EXPECT_EQ(proxy().echoAckErrOk2("CLINIQUE[2005-03-02 143005].req", acces), "A123");
    EXPECT_EQ(acces, "ERR");

    ASSERT_TRUE(server.writeFile("users/CLINIQUE/dictees/CLINIQUE_wav.zip", "x"));
    ASSERT_TRUE(server.writeFile("users/CLINIQUE/dictees/CLINIQUE_wav__1.ZIP", "x"));
    EXPECT_EQ(proxy().GetAttachmentList("U1"), (QStringList{"CLINIQUE_wav.zip", "CLINIQUE_wav__1.ZIP"}));
    ASSERT_TRUE(server.control("mode GetAttachmentList array-href"));
    EXPECT_EQ(proxy().GetAttachmentList("U1"), (QStringList{"CLINIQUE_wav.zip", "CLINIQUE_wav__1.ZIP"}));
    EXPECT_EQ(proxy().GetAttachmentList("INCONNU"), QStringList());

    // Operations the interface does not expose still go through.
    const SoapCallResult r = soapCall(client, "echoStringArray", {soap::stringArrayValue("value", {"a", "b & c"})});
    EXPECT_EQ(r.message.stringArray(r.message.returnNode()), (QStringList{"a", "b & c"}));
    EXPECT_EQ(soapCall(client, "echoInt", {soap::intValue("value", -42)}).returnText(), "-42");
}

TEST_F(SoapClientTest, RequestIsAnsweredThenPreparedAndDownloadedInFragments)
{
    // A study the server holds, with a birth date, and nested folders.
    ASSERT_TRUE(server.writeFile("studies/A123/DICOMDIR", QByteArray(3000, 'D')));
    ASSERT_TRUE(server.writeFile("studies/A123/naissance.txt", "1950-01-31"));
    const QByteArray image = noise(9000, 1);
    ASSERT_TRUE(server.writeFile("studies/A123/DICOM/ST000001/SE000001/IM000001", image));
    ASSERT_TRUE(server.writeFile("studies/A123/DICOM/ST000001/SE000002/IM000001", image.left(7000)));
    ASSERT_TRUE(server.writeFile("studies/A123/DICOM/ST000001/SE000002/IM000002", image.right(6500)));
    // Enough bytes for three fragments (Python decrypts slowly: kept out of the deep check).
    ASSERT_TRUE(server.writeFile("studies/A123/RAPPORTS/A123.RAP", noise(2300000, 3)));

    auto sendRequest = [&](const QString &name, const QString &accession, const QString &birth) {
        const QString path = work.filePath(name);
        const QByteArray text = ("CLINIQUE\r\n2005-03-02 143005\r\n" + accession + "\r\n80\r\n" + birth + "\r\nV1\r\nRAPPORT=NON\r\n").toLatin1();
        EXPECT_TRUE(writeBytes(path, text));
        return proxy().SendAttachment(name, path);
    };

    // Unknown accession number: ACK; wrong birth date: ERR.
    QString acces;
    EXPECT_TRUE(sendRequest("CLINIQUE[2005-03-02 143001].req", "ZZZ", ""));
    EXPECT_EQ(proxy().echoAckErrOk2("CLINIQUE[2005-03-02 143001].req", acces), "ZZZ");
    EXPECT_EQ(acces, "ACK");
    EXPECT_EQ(proxy().echoEffacerACK("CLINIQUE[2005-03-02 143001].ACK"), "OK");
    EXPECT_TRUE(sendRequest("CLINIQUE[2005-03-02 143002].req", "A123", "1960-05-05"));
    EXPECT_EQ(proxy().echoAckErrOk2("CLINIQUE[2005-03-02 143002].req", acces), "A123");
    EXPECT_EQ(acces, "ERR");
    EXPECT_EQ(proxy().echoEffacerERR("CLINIQUE[2005-03-02 143002].ERR"), "OK");
    QString pending;
    EXPECT_FALSE(PendingRequest(proxy(), "CLINIQUE", &pending, recorder()));

    // The right birth date: in preparation, pending, then available.
    const QString name = "CLINIQUE[2005-03-02 143005].req";
    EXPECT_TRUE(sendRequest(name, "A123", "1950-01-31"));
    EXPECT_EQ(proxy().echoAckErrOk2(name, acces), "A123");
    EXPECT_EQ(acces, "OK2");
    EXPECT_EQ(proxy().echoEffacerOk2("CLINIQUE[2005-03-02 143005].ok2"), "OK");
    EXPECT_TRUE(PendingRequest(proxy(), "CLINIQUE", &pending, recorder()));
    EXPECT_EQ(pending, name);
    QString archive;
    for (int i = 0; i < 100 && archive.isEmpty(); ++i) {
        QTest::qWait(100);
        archive = AvailableArchive(proxy(), "CLINIQUE", recorder());
    }
    ASSERT_EQ(archive, "CLINIQUE.zip");
    EXPECT_FALSE(PendingRequest(proxy(), "CLINIQUE", &pending, recorder()));
    const QString serverArchive = server.root() + "/users/CLINIQUE/CLINIQUE.zip";
    const qint64 volume = ArchiveVolume(proxy(), archive, recorder()).toLongLong();
    EXPECT_EQ(volume, QFileInfo(serverArchive).size());
    ASSERT_GT(volume, 2000000) << "the test wants three fragments";

    // Download in fragments of 1,000,000 bytes with receive notifications.
    qint64 notifications = 0, lastReceived = 0;
    bool grew = true;
    client.setReceivingDataHandler([&](qint64 received, qint64) {
        ++notifications;
        grew = grew && received > lastReceived;
        lastReceived = received;
    });
    EXPECT_EQ(proxy().DebutDownLoadZip(archive, 1000000), "OK");
    const QStringList fragments = proxy().GetSplitFileList(archive);
    ASSERT_EQ(fragments.size(), int((volume + 999999) / 1000000));
    EXPECT_EQ(fragments.front(), "CLINIQUE.zip.001");
    QByteArray merged;
    for (const QString &f : fragments) {
        notifications = 0;
        lastReceived = 0;
        SoapAttachmentPtr a = proxy().GetAttachment(f, "U1");
        ASSERT_TRUE(a);
        EXPECT_EQ(a->contentType(), "application/binary");
        const QString target = work.filePath(f);
        QString error;
        ASSERT_TRUE(a->saveAs(target, &error)) << qPrintable(error);
        merged += fileBytes(target);
        // One notification per 2048 bytes of the answer, which carries the fragment.
        EXPECT_GE(notifications, QFileInfo(target).size() / 2048);
        EXPECT_LE(notifications, QFileInfo(target).size() / 2048 + 4);
        EXPECT_TRUE(grew);
    }
    client.setReceivingDataHandler({});
    EXPECT_EQ(merged, fileBytes(serverArchive));
    EXPECT_EQ(proxy().FinDownLoadZip(archive), "OK");
    EXPECT_TRUE(proxy().GetSplitFileList(archive).isEmpty());
    // Nothing is left behind in the attachment folder but the saved fragments.
    EXPECT_EQ(workFiles().filter(".part").size(), 0);

    // The archive is what the client unpacks: check it with Python's zipfile.
    const QString local = work.filePath("CLINIQUE.zip");
    ASSERT_TRUE(writeBytes(local, merged));
    QProcess py;
    py.start("/usr/bin/python3",
             {"-c",
              "import sys, zipfile, io\n"
              "z = zipfile.ZipFile(sys.argv[1]); z.setpassword(b'XK')\n"
              "names = sorted(z.namelist()); print(' '.join(names))\n"
              "print(len(z.read('DICOMDIR')))\n"
              "print(z.read([n for n in names if n.endswith('.ok') and n != 'ftp.ok'][0]).decode().split('\\r\\n')[2])\n"
              "d = zipfile.ZipFile(io.BytesIO(z.read('DICOM.zip'))); d.setpassword(b'XK')\n"
              "print(' '.join(sorted(d.namelist())))\n"
              "s = zipfile.ZipFile(io.BytesIO(d.read('ST000001.zip'))); s.setpassword(b'XK')\n"
              "print(' '.join(sorted(s.namelist())))\n"
              "print(len(s.read('SE000001/IM000001')))\n",
              local});
    ASSERT_TRUE(py.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(py.readAllStandardOutput()).split('\n');
    ASSERT_GE(lines.size(), 6) << qPrintable(QString::fromUtf8(py.readAllStandardError()));
    EXPECT_EQ(lines[0], "CLINIQUE_A123.ok DICOM.zip DICOMDIR RAPPORTS.zip ftp.ok");
    EXPECT_EQ(lines[1], "3000");
    EXPECT_EQ(lines[2], "A123");
    EXPECT_EQ(lines[3], "ST000001.zip");
    EXPECT_EQ(lines[4], "SE000001/IM000001 SE000002/IM000001 SE000002/IM000002");
    EXPECT_EQ(lines[5], "9000");

    EXPECT_TRUE(DeleteServerArchive(proxy(), archive, "U1", "SECRET", recorder()));
    EXPECT_EQ(AvailableArchive(proxy(), "CLINIQUE", recorder()), QString());
    EXPECT_TRUE(boxes.isEmpty()) << qPrintable(boxes.join('|'));
}

TEST_F(SoapClientTest, DictationPiecesAreJoinedAndCheckedWithThePassword)
{
    // A real dictation archive, zipped with the archive password.
    const QByteArray wav = noise(2500000, 2);
    ASSERT_TRUE(writeBytes(work.filePath("A123.wav"), wav));
    const QString zip = work.filePath("CLINIQUE_wav.zip");
    ASSERT_EQ(QProcess::execute(KORVANE_TESTSERVER, {"--make-zip", zip, work.filePath("A123.wav")}), 0);
    const QByteArray bytes = fileBytes(zip);
    ASSERT_GT(bytes.size(), 1000000);

    qint64 lastSent = -1, lastTotal = -1;
    client.setPostingDataHandler([&](qint64 sent, qint64 total) {
        lastSent = sent;
        lastTotal = total;
    });
    EXPECT_EQ(proxy().GetAttachmentList("U1"), QStringList());
    EXPECT_EQ(proxy().DebutEnvoiSplit("CLINIQUE_wav.zip"), "OK");
    int n = 0;
    for (qint64 at = 0; at < bytes.size(); at += 1000000) {
        const QString piece = QStringLiteral("CLINIQUE_wav.zip.%1").arg(++n, 3, 10, QLatin1Char('0'));
        ASSERT_TRUE(writeBytes(work.filePath(piece), bytes.mid(at, 1000000)));
        lastSent = lastTotal = -1;
        EXPECT_TRUE(proxy().SendAttachment(piece, work.filePath(piece)));
        EXPECT_GT(lastTotal, bytes.mid(at, 1000000).size());
        EXPECT_EQ(lastSent, lastTotal);
    }
    EXPECT_EQ(proxy().FinEnvoiSplit("CLINIQUE_wav.zip"), "OK");
    EXPECT_EQ(fileBytes(server.root() + "/users/CLINIQUE/dictees/CLINIQUE_wav.zip"), bytes);
    EXPECT_EQ(proxy().GetAttachmentList("U1"), QStringList{"CLINIQUE_wav.zip"});

    // A damaged archive is refused and not kept.
    ASSERT_TRUE(writeBytes(work.filePath("CLINIQUE_wav__1.zip.001"), bytes.left(5000)));
    EXPECT_EQ(proxy().DebutEnvoiSplit("CLINIQUE_wav__1.zip"), "OK");
    EXPECT_TRUE(proxy().SendAttachment("CLINIQUE_wav__1.zip.001", work.filePath("CLINIQUE_wav__1.zip.001")));
    EXPECT_TRUE(proxy().FinEnvoiSplit("CLINIQUE_wav__1.zip").startsWith("ERREUR"));
    EXPECT_EQ(proxy().GetAttachmentList("U1"), QStringList{"CLINIQUE_wav.zip"});

    // A piece whose file is gone is an error before anything is sent.
    const SoapError e = errorOf([&] { proxy().SendAttachment("CLINIQUE_wav.zip.009", work.filePath("absent")); });
    EXPECT_EQ(e.kind(), SoapError::Kind::Protocol);
}

TEST_F(SoapClientTest, UpdateArchiveComesWithContentTypeZip)
{
    EXPECT_EQ(AvailableArchive(proxy(), "Strandel", recorder()), QString());
    ASSERT_TRUE(server.writeFile("updates/Strandel__50.zip", "old"));
    ASSERT_TRUE(server.writeFile("updates/Strandel__51.zip", "new update"));
    EXPECT_EQ(AvailableArchive(proxy(), "Strandel", recorder()), "Strandel__51.zip");
    SoapAttachmentPtr a = proxy().GetAttachment("Strandel__51.zip", "U1");
    EXPECT_EQ(a->contentType(), "zip");
    const QString temporary = a->temporaryPath();
    EXPECT_TRUE(QFile::exists(temporary));
    a.reset(); // never saved: the temporary file goes
    EXPECT_FALSE(QFile::exists(temporary));

    const SoapError e = errorOf([&] { proxy().GetAttachment("../../etc/passwd", "U1"); });
    EXPECT_EQ(e.kind(), SoapError::Kind::Fault);
    const SoapError missing = errorOf([&] { proxy().GetAttachment("absent.zip", "U1"); });
    EXPECT_TRUE(missing.message().contains("introuvable"));
}

TEST_F(SoapClientTest, CallsKeepTheWindowsPaintingButDoNotNest)
{
    struct Painted : QWidget
    {
        int paints = 0;
        void paintEvent(QPaintEvent *) override { ++paints; }
    } widget;
    widget.resize(100, 100);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const int before = widget.paints;
    ASSERT_TRUE(server.control("delay echoConnexion 600"));

    // The first window events the waiting call lets run (and nothing runs before the
    // call starts) ask for a repaint and start a second call: the window repaints while
    // the first call still waits, and the second call is refused.
    bool nestedRefused = false;
    int callsStarted = 0;
    QTimer::singleShot(0, [&] {
        ++callsStarted;
        widget.update();
        nestedRefused = errorOf([&] { client.service().echoConnexion("OK"); }).message().contains("déjà en cours");
    });
    EXPECT_TRUE(TestConnection(proxy()));
    EXPECT_EQ(callsStarted, 1);
    EXPECT_GT(widget.paints, before);
    EXPECT_TRUE(nestedRefused);
}
