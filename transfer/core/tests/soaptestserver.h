#pragma once
// Starts the loopback SOAP test server for one test: a child process on a
// free loopback port, over a temporary folder, stopped when the object goes.

#include "transfer/core/echoservice.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace strandel::testing {

class SoapTestServer
{
public:
    explicit SoapTestServer(QStringList users = {QStringLiteral("CLINIQUE/U1/SECRET")}, QStringList extra = {})
        : m_users(std::move(users)), m_extra(std::move(extra))
    {
    }
    ~SoapTestServer() { stop(); }

    // Starts the server; false (with the reason) when it does not come up.
    bool start(QString *error = nullptr)
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{m_dir.path(), QStringLiteral("0")};
        args << m_users << QStringLiteral("--prepare-ms") << QString::number(m_prepareMs) << m_extra;
        m_process->start(QStringLiteral(KORVANE_TESTSERVER), args);
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (t.elapsed() < 15000) {
            if (!m_process->waitForReadyRead(200) && m_process->state() == QProcess::NotRunning)
                break;
            out += m_process->readAllStandardOutput();
            const int nl = out.indexOf('\n');
            if (nl >= 0 && out.startsWith("PORT ")) {
                m_port = out.mid(5, nl - 5).trimmed().toInt();
                return m_port > 0;
            }
        }
        if (error)
            *error = QStringLiteral("le serveur de test ne démarre pas : %1").arg(QString::fromLatin1(out));
        return false;
    }

    void stop()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000))
                m_process->kill();
            m_process->waitForFinished(2000);
        }
    }

    int port() const { return m_port; }
    QString root() const { return m_dir.path(); }
    QString alias() const { return QStringLiteral("strandel"); }
    QString url() const { return ServiceUrl(QStringLiteral("127.0.0.1"), QString::number(m_port), alias()); }
    void setPrepareMilliseconds(int ms) { m_prepareMs = ms; }

    // Sends control lines (see the server's usage text); true when accepted.
    bool control(const QString &lines)
    {
        QNetworkAccessManager nam;
        QNetworkRequest req(QUrl(QStringLiteral("http://127.0.0.1:%1/__control").arg(m_port)));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain"));
        QNetworkReply *reply = nam.post(req, lines.toUtf8());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError && reply->readAll().startsWith("OK");
        reply->deleteLater();
        return ok;
    }

    // Writes a file below the server's folder, creating its folders.
    bool writeFile(const QString &relative, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

    // A port on which nothing listens.
    static int closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const int p = probe.serverPort();
        probe.close();
        return p;
    }

private:
    QStringList m_users;
    QStringList m_extra;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    int m_prepareMs = 300;
};

} // namespace strandel::testing
