#pragma once

#include "viewer/shell/datamodule.h"
#include "viewer/shell/templatedm.h"

class QApplication;

namespace shell {

// The viewer's entry point after the application object exists: single
// instance, formats and translations, the data modules, the main window from
// `createMainWindow`, the message loop. Answers the exit code: 0 for a normal
// end, a second start and a cancelled splash; 1 when the imaging component
// cannot be loaded; 3 when a requested screenshot could not be written.
//
// "/screenshot=<file.png>": once the main window is on screen (or, when it has
// a signal screenshotReady(), once it emits it), the window is saved to that
// PNG and the program ends.
// `messageDialog` answers every message box in place of the viewer's own (tests that
// start a program of their own pass one); by default the boxes are shown.
int RunKorvaneCD(QApplication &application, const TDATA::MainWindowFactory &createMainWindow,
                 const TTemplateDM::MessageDialogFunction &messageDialog = {});

// Loads Qt's French texts for its own dialogs (buttons "Oui", "Non").
void InstallFrenchTranslations(QApplication &application);

// Saves the window as shown to a PNG; answers success.
bool SaveWindowPicture(QWidget *window, const QString &fileName);

} // namespace shell
