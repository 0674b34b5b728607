#pragma once
// Grabbing a mark (a measurement or an annotation) with the mouse: a press on a mark
// either moves its whole group of labels or, on a handle, reshapes it.
//
// A mark is a group of labels linked into a ring through their Tag, a list of four
// integers: [0] 1 on a free text, [1] the kind (1 line, 2 ellipse, 3 indication, 4 free
// text, 5 angle; 0 on labels that are not marks), [2] the label's own link id, [3] the
// link id of the next label of its group.

#include "imaging/imaging.h"

#include <QPoint>

#include <array>

// Element 1 of a label's link tag (0 when it has none).
int MeasureKind(const imaging::DicomLabel &label);
// Element `index` (0 .. 3) of a label's link tag (0 when absent).
int LinkTagElement(const imaging::DicomLabel &label, int index);

class TMarkGrab
{
public:
    virtual ~TMarkGrab() = default;

    bool GrabMovesGroup = true;
    int GrabbedEnd = 0;
    imaging::DicomLabelPtr GroupFirst;
    imaging::DicomLabelPtr GroupSecond;
    imaging::DicomLabelPtr GroupThird;
    // Left - px and Top - py of the three labels at the press.
    std::array<QPoint, 3> GrabOffsets{};

    // Whether the press at image point (px, py) moves the group (true) or grabs a
    // handle of `label` (false; GrabbedEnd tells which). May normalise an ellipse.
    virtual bool GrabTest(imaging::DicomLabel &label, int px, int py);
    // The group of `label`, looked up in `labels` (the current image's).
    virtual void GatherGroup(const imaging::DicomLabelPtr &label, const imaging::DicomLabels &labels);
    virtual void RecordGrabOffsets(int px, int py);
    virtual void MoveGroup(int px, int py);
    virtual void ResizeShape(int px, int py);
    // Recomputes the values written for a reshaped mark (lengths, areas, angle).
    virtual void RefreshGroupText(int imageIndex) { (void)imageIndex; }
    void Forget();

    // The first label of `labels` that is a mark and whose own link id is `id`.
    static imaging::DicomLabelPtr FindLinkedLabel(const imaging::DicomLabels &labels, int id);
};
