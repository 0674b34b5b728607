#pragma once
// Image selection. Every image carries a selection marker, its label 11: the image is
// selected when the marker is filled (Transparent false). A left click on a marker
// toggles one image; a right click opens the frame's selection menu, whose commands
// select or deselect the series, all series, the study or the visit. The marker is red
// when every image of the frame is selected, blue otherwise.

#include "imaging/imaging.h"

#include <QString>

class QMenu;
class QObject;
class TFrameDicomViewer;

namespace selection {

constexpr int kAllSelectedColour = 255;     // red
constexpr int kPartlySelectedColour = 0xFF0000; // blue

// The image's marker is filled (false without a marker).
bool IsSelected(const imaging::DicomImage &image);
// Fills (true) or empties the image's marker; no effect without a marker.
void SetSelected(imaging::DicomImage &image, bool selected);
// Selected images of a collection.
int CountSelected(const imaging::DicomImages &images);
// The accession text of an image: the "Acc:" line of its top-right text without "Acc: ".
QString AccessionOf(const imaging::DicomImage &image);

// Every marker of the frame's control red when all its images are selected, else blue;
// then the control is redrawn and the frame's state saved and shared.
void RecolourSelectionMarkers(TFrameDicomViewer &frame);
// A left click on the marker of image `index` of the frame's control.
void ToggleSelection(TFrameDicomViewer &frame, int index);

// The group commands. `select` true selects, false deselects.
void SelectSeries(TFrameDicomViewer &frame, bool select);
void SelectAllSeries(TFrameDicomViewer &frame, bool select);
void SelectStudy(TFrameDicomViewer &frame, bool select);
void SelectVisit(TFrameDicomViewer &frame, bool select);

// A command item of the menu tells select from deselect by its name.
bool SelectsByName(const QObject &sender);

// The frame's selection menu (PopupMenuSelect), made once and kept by the frame: two
// items per group, one handler per pair.
QMenu *PopupMenuSelect(TFrameDicomViewer &frame);

} // namespace selection
