// Grabbing marks: which press grabs a handle, which moves the group, and how a handle
// reshapes lines, ellipses and angle legs.

#include "viewer/frame/markgrab.h"

#include <gtest/gtest.h>

namespace {

imaging::DicomLabelPtr Mark(int type, int kind, int id, int next, int left, int top, int width, int height)
{
    auto label = imaging::CreateLabel();
    label->SetLabelType(type);
    label->SetTag(QVariantList{0, kind, id, next});
    label->SetLeft(left);
    label->SetTop(top);
    label->SetWidth(width);
    label->SetHeight(height);
    return label;
}

} // namespace

TEST(MarkGrab, LineEndsAreHandlesAndTheMiddleMovesTheGroup)
{
    TMarkGrab grab;
    auto line = Mark(imaging::DicomLabel::TypeLine, 1, 100, 101, 10, 10, 100, 50);
    EXPECT_FALSE(grab.GrabTest(*line, 105, 55));
    EXPECT_EQ(grab.GrabbedEnd, 0);
    EXPECT_FALSE(grab.GrabTest(*line, 12, 8));
    EXPECT_EQ(grab.GrabbedEnd, 1);
    EXPECT_TRUE(grab.GrabTest(*line, 60, 35));
    // The start of an angle leg is its vertex: the whole angle moves.
    auto leg = Mark(imaging::DicomLabel::TypeLine, 5, 100, 101, 10, 10, 100, 50);
    EXPECT_TRUE(grab.GrabTest(*leg, 11, 11));
}

TEST(MarkGrab, EllipseQuarterPointsAreHandlesAndTheLabelIsNormalised)
{
    TMarkGrab grab;
    // (20, 10) 100 x 80: handles at (45, 30), (95, 30), (45, 70), (95, 70), tolerance 15 x 12.
    auto ellipse = Mark(imaging::DicomLabel::TypeEllipse, 2, 1, 2, 20, 10, 100, 80);
    EXPECT_FALSE(grab.GrabTest(*ellipse, 94, 31));
    EXPECT_EQ(grab.GrabbedEnd, 1);
    EXPECT_FALSE(grab.GrabTest(*ellipse, 46, 69));
    EXPECT_EQ(grab.GrabbedEnd, 0);
    EXPECT_TRUE(grab.GrabTest(*ellipse, 70, 50));
    // Drawn up and left: normalised; its handle sizes come from the label as it was
    // (negative), so such an ellipse is moved as a whole.
    auto reversed = Mark(imaging::DicomLabel::TypeEllipse, 2, 1, 2, 120, 90, -100, -80);
    EXPECT_TRUE(grab.GrabTest(*reversed, 94, 31));
    EXPECT_EQ(reversed->Left(), 20);
    EXPECT_EQ(reversed->Top(), 10);
    EXPECT_EQ(reversed->Width(), 100);
    EXPECT_EQ(reversed->Height(), 80);
}

TEST(MarkGrab, GroupFollowsTheLinksAndMovesTogether)
{
    auto labels = imaging::CreateLabels();
    auto a = Mark(imaging::DicomLabel::TypeLine, 5, 200, 201, 10, 10, 50, 0);
    auto b = Mark(imaging::DicomLabel::TypeLine, 5, 201, 202, 10, 10, 0, 50);
    auto c = Mark(imaging::DicomLabel::TypeText, 5, 202, 200, 30, 30, 20, 20);
    auto other = Mark(imaging::DicomLabel::TypeText, 0, 201, 0, 0, 0, 1, 1); // not a mark
    labels->Add(other);
    labels->Add(a);
    labels->Add(b);
    labels->Add(c);
    TMarkGrab grab;
    grab.GatherGroup(a, *labels);
    EXPECT_EQ(grab.GroupSecond, b);
    EXPECT_EQ(grab.GroupThird, c);
    grab.RecordGrabOffsets(15, 15);
    grab.MoveGroup(25, 35);
    EXPECT_EQ(a->Left(), 20);
    EXPECT_EQ(a->Top(), 30);
    EXPECT_EQ(c->Left(), 40);
    EXPECT_EQ(c->Top(), 50);
    // A broken ring gathers what it finds.
    labels->Remove(labels->IndexOf(b.get()));
    grab.GatherGroup(a, *labels);
    EXPECT_EQ(grab.GroupSecond, nullptr);
    EXPECT_EQ(grab.GroupThird, nullptr);
}

TEST(MarkGrab, HandlesReshapeLinesAndEllipses)
{
    TMarkGrab grab;
    auto line = Mark(imaging::DicomLabel::TypeLine, 1, 1, 2, 10, 10, 100, 50);
    grab.GroupFirst = line;
    grab.GrabbedEnd = 0;
    grab.ResizeShape(200, 20);
    EXPECT_EQ(line->Width(), 190);
    EXPECT_EQ(line->Height(), 10);
    // Start handle: the end point stays.
    grab.GrabbedEnd = 1;
    grab.RecordGrabOffsets(10, 10);
    grab.ResizeShape(0, 0);
    EXPECT_EQ(line->Left(), 0);
    EXPECT_EQ(line->Left() + line->Width(), 200);
    EXPECT_EQ(line->Top() + line->Height(), 20);

    auto ellipse = Mark(imaging::DicomLabel::TypeEllipse, 2, 1, 2, 20, 10, 100, 80);
    grab.GroupFirst = ellipse;
    grab.GrabbedEnd = 1; // top handles
    grab.ResizeShape(150, 30);
    EXPECT_EQ(ellipse->Left(), 20);
    EXPECT_EQ(ellipse->Width(), 130);
    EXPECT_EQ(ellipse->Top(), 30);
    EXPECT_EQ(ellipse->Top() + ellipse->Height(), 90);
}
