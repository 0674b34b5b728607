#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

namespace platform {

// One running instance per user session. The first start holds a lock file
// and listens on a local socket; a later start finds the lock held and asks
// the first, through the socket, to come to the front.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // `name` names the lock ("KorvaneCD"); the lock and the socket live in
    // `folder` (by default the runtime folder of platform/folders.h).
    explicit SingleInstance(const QString &name, const QString &folder = QString(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first: it now holds the lock (until it
    // ends) and listens for later starts. False when another process holds it.
    bool TryBecomeFirst();

    // From a later start: asks the running instance to come forward. Tries for
    // up to `timeoutMs` (the first may still be starting); answers whether the
    // running instance acknowledged.
    bool AskFirstToComeForward(int timeoutMs = 3000);

    QString LockFileName() const;
    QString ServerName() const;

signals:
    // In the first instance: a later start asked it to come to the front.
    void comeForwardRequested();

private:
    void OnNewConnection();

    QString name_;
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer *server_ = nullptr;
};

} // namespace platform
