#pragma once
// The work of one visit load, independent of threads and windows: walk the
// catalogue, read the chosen patient's image files, split them into the series the
// viewer shows, give each image its labels, sort and number every series, and hand
// the visit over once two series are complete.
//
// Each catalogue series is built apart (read, split, labelled, sorted, numbered) and
// only then appended to the visit's collection in one go, so a reader on another
// thread sees finished series only. The result is the same as building it in place.

#include "viewer/loading/visitdata.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace loading {

struct LoadRequest
{
    QString programFolder; // where the catalogue and the image folders lie
    QString catalogue;     // file name, such as "DICOMDIR"
    QString patientId;     // the patient to load (from the open-visit dialog)
    QString studyUid;      // with an empty patient ID ("/UID="): the study to load
    bool demo = false;     // "/DEMO": names hidden in the corner texts
    int backColour = 0;    // the main window's colour, for the text labels
};

// What the load reports while it runs; called on the loading thread.
class LoadObserver
{
public:
    virtual ~LoadObserver() = default;
    // A stop was asked for (tested between image records).
    virtual bool StopRequested() { return false; }
    // An image file is about to be read: series counter and image counter.
    virtual void ImageRead(int /*series*/, int /*image*/) {}
    // Two series are complete: show the visit (returns once the window has it).
    virtual void HandOver() {}
    virtual void Log(const QString & /*text*/) {}
};

struct LoadOutcome
{
    bool handedOver = false;
    bool stopped = false;
    // The load ended on an error: the file (or catalogue) and the component's reason,
    // as the log keeps it (with the underlying library's own words when it gave any).
    QString errorFile;
    QString errorText;
    bool failed() const { return !errorText.isEmpty(); }
};

// Sort key of an entry: Series Number and Instance Number, each right-aligned in 15
// characters and cut to 15 (an absent attribute gives 15 blanks).
QByteArray SortKey(const imaging::DicomImage &image);

// Sorts entries by SortKey, keeping the order of equal keys (the result a bubble sort
// of adjacent pairs would give).
void SortSeriesEntries(std::vector<imaging::DicomImagePtr> &entries);

// Runs the load into `content` (which is reset first).
LoadOutcome RunVisitLoad(const LoadRequest &request, VisitContent &content, LoadObserver &observer);

} // namespace loading
