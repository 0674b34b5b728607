#pragma once
// Test helpers for the transfer client's windows: a recording stand-in for
// the message boxes and modal dialogs, and a settings folder.

#include "transfer/core/clientui.h"

#include <QByteArray>
#include <QDialog>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace clienttest {

struct Message {
    strandel::MessageKind kind;
    QString text;
};

// Records every message; confirmations take their answers from `answers`
// in order (Yes when the list is empty). Dialogs go to onDialog, which
// plays the user's part and returns the dialog's result.
struct UiRecorder {
    QList<Message> messages;
    QList<bool> answers;
    std::function<int(QDialog &)> onDialog;
    std::function<void(const Message &)> onMessage;

    strandel::ClientUi ui()
    {
        strandel::ClientUi u;
        u.message = [this](QWidget *, strandel::MessageKind kind, const QString &text, bool yesNo) {
            messages.append({kind, text});
            if (onMessage)
                onMessage(messages.last());
            if (!yesNo)
                return true;
            return answers.isEmpty() ? true : answers.takeFirst();
        };
        u.exec = [this](QDialog &d) {
            if (!onDialog)
                return int(QDialog::Rejected);
            return onDialog(d);
        };
        return u;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Message &m : messages)
            out << m.text;
        return out;
    }
};

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// A complete settings file of a configured workstation.
inline QByteArray configuredIni(const QByteArray &extra = {})
{
    return "[parametres]\r\n"
           "AdresseIp=127.0.0.1\r\n"
           "Alias=strandel\r\n"
           "FichierZip=CLINIQUE\r\n"
           "Usager=U1\r\n"
           "MotDePasse=SECRET\r\n"
           + extra;
}

#ifdef KORVANE_TESTSERVER
// The loopback test server run as a child process on a free port, with one
// user CLINIQUE/U1/SECRET; its folder is root().
class TestServer {
public:
    explicit TestServer(int prepareMs = 300)
    {
        m_process.setProgram(QStringLiteral(KORVANE_TESTSERVER));
        m_process.setArguments({m_root.path(), QStringLiteral("0"), QStringLiteral("CLINIQUE/U1/SECRET"),
                                QStringLiteral("--prepare-ms"), QString::number(prepareMs)});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return;
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = line.mid(5).toInt();
        }
    }
    ~TestServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    QString userFolder() const { return m_root.filePath(QStringLiteral("users/CLINIQUE")); }

    // A study the server can prepare for a request of that accession number.
    void addStudy(const QString &accession, const QByteArray &birthDate = {})
    {
        QDir(m_root.path()).mkpath(QStringLiteral("studies/") + accession + QStringLiteral("/IMAGES"));
        const QString folder = m_root.filePath(QStringLiteral("studies/") + accession);
        writeFile(folder + QStringLiteral("/DICOMDIR"), "DICM");
        writeFile(folder + QStringLiteral("/IMAGES/IM1.DCM"), QByteArray(4000, 'x'));
        if (!birthDate.isEmpty())
            writeFile(folder + QStringLiteral("/naissance.txt"), birthDate);
    }

    // A control command; answers the server's text.
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
#endif

} // namespace clienttest
