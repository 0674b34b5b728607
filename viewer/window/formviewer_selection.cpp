// The main window's side of image selection: the frames a group command reaches (those
// of the child window that holds the frame) and the selection menu drawn like the
// window's other popup menus.

#include "viewer/frame/framedicomviewer.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"
#include "viewer/window/ownerdrawmenu.h"

#include <QMenu>

QList<TFrameDicomViewer *> TFormViewer::ChildFrames(TFrameDicomViewer *frame)
{
    for (QWidget *w = frame ? frame->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto *child = qobject_cast<TFormChildMDI *>(w))
            return child->Frames();
    if (TFormChildMDI *child = ActiveChild())
        return child->Frames();
    return frame ? QList<TFrameDicomViewer *>{frame} : QList<TFrameDicomViewer *>{};
}

QMenu *TFormViewer::NewSelectionMenu(QWidget *parent) { return NewOwnerDrawMenu(parent, false); }
