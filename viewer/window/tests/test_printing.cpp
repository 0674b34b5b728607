// Image selection through the main window, and standard printing of the selected
// images to a PDF file read back with poppler's tools.

#include "windowtesting.h"

#include "viewer/frame/selection.h"
#include "viewer/window/ownerdrawmenu.h"

#include <QMenu>
#include "testsupport/qtestgtest.h"

using namespace windowtest;

namespace {

class PrintingTest : public ViewerTest
{
protected:
    static QAction *MenuItem(TFrameDicomViewer *frame, const char *name)
    {
        return selection::PopupMenuSelect(*frame)->findChild<QAction *>(QLatin1String(name));
    }
};

} // namespace

TEST_F(PrintingTest, AllSeriesFromTheOwnerDrawnMenuSelectsTheWholeVisitInRed)
{
    OpenVisit();
    TFrameDicomViewer *frame = Frames().first();
    QMenu *menu = selection::PopupMenuSelect(*frame);
    // The main window's owner-drawn menu code draws it.
    EXPECT_NE(qobject_cast<TOwnerDrawStyle *>(menu->style()), nullptr);
    const auto visit = VisitData().VisitImages();
    int shown = 0;
    for (TFrameDicomViewer *f : Frames())
        shown += f->DicomViewer()->Images()->Count();
    ASSERT_LT(shown, visit->Count()) << "some images must lie outside the frames";
    MenuItem(frame, "Slectionnertouteslesimagesdetouteslessries1")->trigger();
    EXPECT_EQ(selection::CountSelected(*visit), visit->Count());
    for (int i = 1; i <= visit->Count(); ++i)
        EXPECT_EQ(visit->Item(i)->Labels()->Item(loading::kLabelSelection)->BackColour(),
                  selection::kAllSelectedColour) << i;
    // The frames reached are the child window's.
    EXPECT_EQ(window->ChildFrames(frame), Frames());
    MenuItem(frame, "Dslectionnertouteslesimagesdetouteslessries1")->trigger();
    EXPECT_EQ(selection::CountSelected(*visit), 0);
}
