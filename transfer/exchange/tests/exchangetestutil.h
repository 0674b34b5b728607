#pragma once
// A main window with the file exchange plugged in, in a working folder named
// KorvaneCD, against the loopback test server.

#include "transfer/core/tests/clienttestutil.h"

#include "transfer/core/clientform.h"
#include "transfer/exchange/exchange.h"
#include "transfer/exchange/exchangeforms.h"
#include "ziptestkit.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// The loopback test server as a child process on a free port, user
// CLINIQUE/U1/SECRET; its log goes to a file (a pipe nobody reads would fill).
class ExchangeServer
{
public:
    explicit ExchangeServer(int prepareMs = 100)
    {
        m_process.setProgram(QStringLiteral(KORVANE_TESTSERVER));
        m_process.setArguments({m_root.path(), QStringLiteral("0"), QStringLiteral("CLINIQUE/U1/SECRET"),
                                QStringLiteral("--prepare-ms"), QString::number(prepareMs)});
        m_process.setStandardErrorFile(m_root.filePath(QStringLiteral("server.log")));
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return;
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = line.mid(5).toInt();
        }
    }
    ~ExchangeServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    QString userFolder() const { return m_root.filePath(QStringLiteral("users/CLINIQUE")); }
    QByteArray log() const { return ziptest::readAll(m_root.filePath(QStringLiteral("server.log"))); }
    QString control(const QString &text)
    {
        QNetworkAccessManager net;
        QNetworkRequest req(QUrl(QStringLiteral("http://127.0.0.1:%1/__control").arg(m_port)));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain"));
        QNetworkReply *reply = net.post(req, text.toUtf8());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QString answer = QString::fromUtf8(reply->readAll()).trimmed();
        reply->deleteLater();
        return answer;
    }

private:
    QTemporaryDir m_root;
    QProcess m_process;
    int m_port = 0;
};

struct ExchangeFixture : ::testing::Test
{
    QTemporaryDir dir;
    QString work;
    clienttest::UiRecorder rec;
    std::unique_ptr<ExchangeServer> server;
    std::unique_ptr<strandel::TClientForm> form;
    exchange::Exchange *x = nullptr;
    QList<int> waits;
    int quits = 0;
    int beeps = 0;
    // Plays the user's part in a dialog; the default accepts confirmations
    // and runs the periodic check window for real (with short seconds).
    std::function<int(QDialog &)> onDialog;
    std::function<QDateTime()> clock;

    QString serverUser() const { return server->userFolder(); }

    void start(const QByteArray &extraIni = {})
    {
        work = dir.path() + QStringLiteral("/KorvaneCD");
        QDir().mkpath(work);
        server = std::make_unique<ExchangeServer>(100);
        ASSERT_GT(server->port(), 0) << "test server did not start";
        clienttest::writeFile(work + "/Strandel.ini",
                              "[parametres]\r\nAdresseIp=127.0.0.1\r\nPort=" + QByteArray::number(server->port())
                                  + "\r\nAlias=strandel\r\nFichierZip=CLINIQUE\r\nUsager=U1\r\nMotDePasse=SECRET\r\n"
                                    "MajAuto=0\r\nEpureAuto=0\r\n"
                                  + extraIni);
        QDir().mkpath(serverUser());
        form = std::make_unique<strandel::TClientForm>(work, strandel::CommandLine({"Strandel"}), rec.ui());
        ASSERT_TRUE(form->settings().read());
        exchange::ExchangeEnv env;
        env.wait = [this](int ms) { waits << ms; };
        env.quit = [this] { ++quits; };
        env.beep = [this] { ++beeps; };
        env.periodicTickMs = 5;
        if (clock)
            env.now = [this] { return clock(); };
        env.desktopFolder = dir.path() + "/Bureau";
        x = exchange::installExchange(*form, env);
        rec.onDialog = [this](QDialog &d) {
            if (onDialog)
                return onDialog(d);
            return defaultAnswer(d);
        };
        form->show();
    }

    static int defaultAnswer(QDialog &d)
    {
        if (qobject_cast<exchange::TFormAttente2 *>(&d))
            return d.exec();
        if (qobject_cast<exchange::TFormAttente *>(&d) || qobject_cast<exchange::TFormVerification *>(&d)
            || qobject_cast<exchange::TFormVerifContinue *>(&d))
            return QDialog::Accepted;
        return QDialog::Rejected;
    }

    QStringList texts(strandel::MessageKind kind) const
    {
        QStringList out;
        for (const auto &m : rec.messages)
            if (m.kind == kind)
                out << m.text;
        return out;
    }
    bool said(const QString &part) const
    {
        for (const auto &m : rec.messages)
            if (m.text.contains(part))
                return true;
        return false;
    }
    QStringList workFiles() const
    {
        return QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    // The study archive as the server builds it, written where the server
    // offers it to CLINIQUE. Returns its bytes.
    QByteArray offerStudy(const QList<ziptest::Entry> &entries)
    {
        const QString path = serverUser() + "/CLINIQUE.zip";
        EXPECT_TRUE(ziptest::writeZip(path, entries));
        return ziptest::readAll(path);
    }
    static QByteArray zipBytes(const QList<ziptest::Entry> &entries)
    {
        QTemporaryDir t;
        ziptest::writeZip(t.path() + "/z.zip", entries);
        return ziptest::readAll(t.path() + "/z.zip");
    }
};

// Copies every file below `from` to the same place below `to`.
inline bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + "/" + QDir(from).relativeFilePath(src);
        QDir().mkpath(QFileInfo(dst).path());
        if (!QFile::copy(src, dst))
            return false;
    }
    return true;
}
