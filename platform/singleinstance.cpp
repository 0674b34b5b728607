#include "platform/singleinstance.h"

#include "platform/folders.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <unistd.h>

namespace platform {

namespace {
const QByteArray kRequest = "COME-FORWARD\n";
const QByteArray kAnswer = "OK\n";
} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &folder, QObject *parent)
    : QObject(parent), name_(name), folder_(folder.isEmpty() ? RuntimeFolder() : folder)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockFileName() const
{
    // The uid keeps users apart when the folder is the shared /tmp.
    return QDir(folder_).filePath(QStringLiteral("%1-%2.lock").arg(name_).arg(::getuid()));
}

QString SingleInstance::ServerName() const
{
    return QDir(folder_).filePath(QStringLiteral("%1-%2.socket").arg(name_).arg(::getuid()));
}

bool SingleInstance::TryBecomeFirst()
{
    if (lock_ && lock_->isLocked())
        return true;
    auto lock = std::make_unique<QLockFile>(LockFileName());
    // A live holder keeps the lock however long it runs; a dead one's lock is
    // taken over (QLockFile checks the recorded process).
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    lock_ = std::move(lock);

    // We hold the lock: a socket left by a crashed run can go.
    QLocalServer::removeServer(ServerName());
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    if (!server_->listen(ServerName()))
        qWarning("KorvaneCD: cannot listen on %s: %s", qPrintable(ServerName()),
                 qPrintable(server_->errorString()));
    return true;
}

void SingleInstance::OnNewConnection()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() {
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine();
            if (line == kRequest) {
                socket->write(kAnswer);
                socket->flush();
                emit comeForwardRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstance::AskFirstToComeForward(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(ServerName());
        if (socket.waitForConnected(std::max<qint64>(1, deadline.remainingTime()))) {
            socket.write(kRequest);
            if (!socket.waitForBytesWritten(std::max<qint64>(1, deadline.remainingTime())))
                return false;
            while (!socket.canReadLine()) {
                if (!socket.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime())))
                    return false;
            }
            return socket.readLine() == kAnswer;
        }
        // The first instance may not listen yet.
        QThread::msleep(50);
    }
    return false;
}

} // namespace platform
