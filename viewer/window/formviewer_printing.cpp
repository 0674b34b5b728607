// "Fichier" / "Impression standard": the state of every frame on screen goes back to the
// visit first, so that windows, rotations and marks shown are the ones printed.

#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"
#include "viewer/window/printing.h"

void TFormViewer::Appercuavantimpression1Click()
{
    if (TFormChildMDI *child = ActiveChild())
        for (TFrameDicomViewer *frame : child->Frames())
            SaveFrameState(frame);
    printing::StandardPrint(this);
}
