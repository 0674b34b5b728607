#include "viewer/frame/markgrab.h"

#include <QVariantList>

#include <cmath>

int LinkTagElement(const imaging::DicomLabel &label, int index)
{
    const QVariantList tag = label.Tag().toList();
    return index >= 0 && index < tag.size() ? tag.at(index).toInt() : 0;
}

int MeasureKind(const imaging::DicomLabel &label) { return LinkTagElement(label, 1); }

imaging::DicomLabelPtr TMarkGrab::FindLinkedLabel(const imaging::DicomLabels &labels, int id)
{
    for (int i = 1; i <= labels.Count(); ++i) {
        const auto label = labels.Item(i);
        if (label && MeasureKind(*label) != 0 && LinkTagElement(*label, 2) == id)
            return label;
    }
    return nullptr;
}

bool TMarkGrab::GrabTest(imaging::DicomLabel &label, int px, int py)
{
    GrabbedEnd = 0;
    const int type = label.LabelType();
    if (type == imaging::DicomLabel::TypeLine || type == imaging::DicomLabel::TypeArrow) {
        if (std::abs(label.Left() + label.Width() - px) < 10 && std::abs(label.Top() + label.Height() - py) < 10) {
            GrabbedEnd = 0;
            return false;
        }
        if (std::abs(label.Left() - px) < 10 && std::abs(label.Top() - py) < 10) {
            // The start of an angle leg is the vertex: the whole angle moves.
            if (MeasureKind(label) == 5)
                return true;
            GrabbedEnd = 1;
            return false;
        }
        return true;
    }
    if (type == imaging::DicomLabel::TypeEllipse) {
        const long tx = std::lround(std::nearbyint(0.15 * label.Width()));
        const long ty = std::lround(std::nearbyint(0.15 * label.Height()));
        const long qx = std::lround(std::nearbyint(label.Width() / 4.0));
        const long qy = std::lround(std::nearbyint(label.Height() / 4.0));
        if (label.Height() < 0) {
            label.SetTop(label.Top() + label.Height());
            label.SetHeight(-label.Height());
        }
        if (label.Width() < 0) {
            label.SetLeft(label.Left() + label.Width());
            label.SetWidth(-label.Width());
        }
        const int left = label.Left(), top = label.Top();
        const int right = left + label.Width(), bottom = top + label.Height();
        const struct { long x, y; int end; } handles[] = {
            {left + qx, top + qy, 1}, {right - qx, top + qy, 1}, {left + qx, bottom - qy, 0}, {right - qx, bottom - qy, 0}};
        for (const auto &h : handles) {
            if (std::abs(h.x - px) < tx && std::abs(h.y - py) < ty) {
                GrabbedEnd = h.end;
                return false;
            }
        }
        return true;
    }
    return true;
}

void TMarkGrab::GatherGroup(const imaging::DicomLabelPtr &label, const imaging::DicomLabels &labels)
{
    GroupFirst = label;
    GroupSecond = nullptr;
    GroupThird = nullptr;
    const int kind = MeasureKind(*label);
    if (kind == 1 || kind == 2 || kind == 3 || kind == 5)
        GroupSecond = FindLinkedLabel(labels, LinkTagElement(*label, 3));
    if (kind == 5 && GroupSecond)
        GroupThird = FindLinkedLabel(labels, LinkTagElement(*GroupSecond, 3));
}

void TMarkGrab::RecordGrabOffsets(int px, int py)
{
    const imaging::DicomLabelPtr group[] = {GroupFirst, GroupSecond, GroupThird};
    for (int i = 0; i < 3; ++i)
        GrabOffsets[static_cast<std::size_t>(i)] = group[i] ? QPoint(group[i]->Left() - px, group[i]->Top() - py) : QPoint();
}

void TMarkGrab::MoveGroup(int px, int py)
{
    const imaging::DicomLabelPtr group[] = {GroupFirst, GroupSecond, GroupThird};
    for (int i = 0; i < 3; ++i) {
        if (!group[i])
            continue;
        group[i]->SetLeft(px + GrabOffsets[static_cast<std::size_t>(i)].x());
        group[i]->SetTop(py + GrabOffsets[static_cast<std::size_t>(i)].y());
    }
}

void TMarkGrab::ResizeShape(int px, int py)
{
    if (!GroupFirst)
        return;
    imaging::DicomLabel &first = *GroupFirst;
    switch (MeasureKind(first)) {
    case 1:
    case 3:
        if (GrabbedEnd == 0) {
            first.SetWidth(px - first.Left());
            first.SetHeight(py - first.Top());
        } else {
            const int endX = first.Left() + first.Width(), endY = first.Top() + first.Height();
            first.SetLeft(px + GrabOffsets[0].x());
            first.SetTop(py + GrabOffsets[0].y());
            first.SetWidth(endX - first.Left());
            first.SetHeight(endY - first.Top());
        }
        if (first.LabelType() == imaging::DicomLabel::TypeArrow && GroupSecond) {
            GroupSecond->SetTop(first.Top() + first.Height());
            GroupSecond->SetLeft(first.Left() + first.Width());
        }
        break;
    case 2:
        first.SetWidth(px - first.Left());
        if (GrabbedEnd == 1) {
            const int bottom = first.Top() + first.Height();
            first.SetTop(py);
            first.SetHeight(bottom - py);
        } else {
            first.SetHeight(py - first.Top());
        }
        break;
    case 5:
        first.SetWidth(px - first.Left());
        first.SetHeight(py - first.Top());
        break;
    default:
        break;
    }
}

void TMarkGrab::Forget()
{
    GroupFirst = nullptr;
    GroupSecond = nullptr;
    GroupThird = nullptr;
}
