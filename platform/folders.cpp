#include "platform/folders.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

namespace platform {

TempFolderSetting TempFolderFromEnvironment()
{
    TempFolderSetting setting;
    const QString value = qEnvironmentVariable("TMPDIR");
    if (!value.isEmpty()) {
        setting.value = value;
        setting.fromEnvironment = true;
    } else {
        setting.value = QStringLiteral("/tmp");
    }
    return setting;
}

QString StateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/Quellarix"));
}

QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime);
    return QDir::cleanPath(QDir::tempPath());
}

} // namespace platform
