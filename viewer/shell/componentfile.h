#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// The imaging component's library file in the temporary folder, and the
// library loaded from it.
//
// The file at `path` is used only when it is a regular file that holds exactly
// the bytes the viewer carries, belongs to this user and nobody else can write
// it; otherwise it is replaced (a new file written beside it and renamed over
// it). Whatever else stands at the path (a FIFO, a device) is never opened. The file that
// was checked or written is the one loaded: it stays open from the check to
// the load, which goes through /proc/self/fd, so a file swapped in at the path
// in between is never loaded. When the path cannot be replaced, nothing is
// loaded.
class TComponentFile
{
public:
    // The user's own folder below the temporary folder, for the component file:
    // "KorvaneCD-" + the user's id, a directory of this user that nobody else may enter
    // (mode 0700, set when it was wider). When that name is taken by anything else (a
    // file, a link, another account's folder), a new private folder with a unique name
    // is made instead: what another user left there, running or crashed, never stops a
    // start. Empty (with the reason in `error`) when no private folder can be made.
    static QString PrivateFolder(const QString &tempFolder, QString *error = nullptr);
    // The name of the usual private folder (which PrivateFolder makes or checks).
    static QString PrivateFolderName(const QString &tempFolder);

    explicit TComponentFile(QString path) : path_(std::move(path)) {}
    TComponentFile(const TComponentFile &) = delete;
    TComponentFile &operator=(const TComponentFile &) = delete;
    ~TComponentFile() { Unload(); }

    // Makes sure the file at the path holds `bytes` and keeps it open.
    // False (with the reason in ErrorText) when it cannot.
    bool Extract(const QByteArray &bytes);
    // Loads the file kept open by Extract as a library.
    bool Load();
    void *Handle() const { return handle_; }
    // Whether Extract found the right file already there.
    bool ReusedExistingFile() const { return reused_; }
    const QString &Path() const { return path_; }
    const QString &ErrorText() const { return error_; }

    // Unloads the library and deletes the file when the path still names the
    // file this object wrote or checked.
    void Unload();

private:
    bool UseExisting(const QByteArray &bytes);
    bool WriteReplacement(const QByteArray &bytes);
    void CloseFile();

    QString path_;
    QString error_;
    int fd_ = -1;
    void *handle_ = nullptr;
    bool reused_ = false;
    bool haveIdentity_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};
