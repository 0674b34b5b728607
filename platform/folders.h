#pragma once

#include <QString>

#include <optional>

namespace platform {

// The temporary folder as the environment gives it: TMPDIR when set and not
// empty, else the platform default "/tmp" (defined = false only when the
// variable is absent or empty; the default needs no warning here).
struct TempFolderSetting
{
    QString value;
    bool fromEnvironment = false;
};
TempFolderSetting TempFolderFromEnvironment();

// The fixed per-user folder that holds state files such as the day log:
// $XDG_STATE_HOME/Quellarix, else ~/.local/state/Quellarix. Not created here.
QString StateFolder();

// Folder for the single-instance lock and socket: $XDG_RUNTIME_DIR when it
// exists, else the temporary folder.
QString RuntimeFolder();

} // namespace platform
