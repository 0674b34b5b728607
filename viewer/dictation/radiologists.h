#pragma once
// The radiologists of the workstation, kept in a profile file named after the viewer's
// executable (section "Radiologistes", key the name, value the licence number, a blank
// and the group), the choice made each time the recorder is created, and the folder the
// dictation work is written to.

#include <QString>
#include <QStringList>

#include <functional>

class TTemplate6;

namespace dictation {

inline constexpr const char *kRadiologistsSection = "Radiologistes";

struct TRadiologist
{
    QString Name;
    QString Licence;
    QString Group;
    bool Empty() const { return Name.isEmpty() && Licence.isEmpty() && Group.isEmpty(); }
};

// A value of the list split into licence (before the first blank) and group (after it).
TRadiologist SplitRadiologist(const QString &name, const QString &value);
// The value written for a radiologist: licence, a blank, group, the whole trimmed.
QString RadiologistValue(const QString &licence, const QString &group);

// `folder` (with its trailing separator) + the executable's name with ".INI" for its
// extension.
QString RadiologistsFilePath(const QString &folder, const QString &executablePath);
// The names of the list in file order; empty when the file is missing or unreadable.
QStringList RadiologistNames(const QString &iniPath);
// A radiologist of the list by name (empty when absent).
TRadiologist ReadRadiologist(const QString &iniPath, const QString &name);

// The folder where the dictations and the radiologist list are written: the program
// folder when files can be created in it, else the user's own folder
// (Documents/KorvaneCD/, created when needed). `fallback` tells which was chosen.
QString WorkFolder(const QString &programFolder, bool *fallback = nullptr);
// Where the work goes when the program folder cannot be written.
QString FallbackWorkFolder();
// Whether files can be created in `folder` (tried, not guessed from permissions).
bool FolderWritable(const QString &folder);

// Runs one of the radiologist dialogs modally and answers its modal result; tests
// replace it to fill in and confirm the dialog.
using TDialogRunner = std::function<int(TTemplate6 &)>;
int RunDialog(const TDialogRunner &runner, TTemplate6 &dialog);

// The choice at recorder creation: no radiologist in the list, the add dialog; one, that
// one without a dialog; more, the choice dialog. Empty when cancelled.
TRadiologist ChooseRadiologist(const QString &iniPath, const TDialogRunner &runner);
// The add dialog alone ("Ajouter un radiologiste" of the dictation button's menu).
TRadiologist AddRadiologistDialog(const QString &iniPath, const TDialogRunner &runner);

} // namespace dictation
