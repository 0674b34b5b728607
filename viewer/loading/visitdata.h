#pragma once
// The open visit: its image collection, the series it divides into, the count of
// series the loader made and their calibration factors, and the series and text
// functions every window uses to walk it.
//
// A series is a maximal run of consecutive entries with the same series key: the
// entry's SeriesUID, or its StudyUID while stack mode is on (the main window's
// "Mise en pile" button), so that a whole study then behaves as one series.
//
// Threads: the loading thread fills a VisitContent while the main thread reads it.
// The loader only ever appends finished entries to VisitImages (the image collection
// guarantees that Count and Item never see a half-added entry), so the main thread
// sees whole series or nothing of them. SeriesCount is atomic and the calibration
// factors sit behind a mutex. A new open-visit command gives TVisitData a fresh
// VisitContent; a loader that is still running keeps writing to the old one only.

#include "imaging/imaging.h"
#include "viewer/shell/templatedm.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// What one load fills: the images and the per-series numbers that go with them.
class VisitContent
{
public:
    VisitContent();

    const imaging::DicomImagesPtr &Images() const { return images_; }
    // The loader's one way in: appends finished entries, in order, under the writers'
    // lock (readers need no lock: the collection never shows a half-added entry).
    void AppendEntries(const std::vector<imaging::DicomImagePtr> &entries);
    // Empties the collection under the writers' lock.
    void Clear();

    int SeriesCount() const { return seriesCount_.load(); }
    // A new series: SeriesCount + 1 and one more calibration factor holding 0.
    void AddSeries();
    // Back to no series and no factors (start of a load).
    void ResetSeries();

    // One factor per series: at least SeriesCount of them, and one for every run of
    // SeriesUID that SeriesOrdinal numbers once a factor was stored for it (the loader's
    // series splits add runs that the count does not see).
    std::vector<double> CalibrationFactors() const;
    // Factor of series n (from 1); 0 when none was stored (not calibrated).
    double CalibrationFactor(int series) const;
    // Stores the factor of series n. n may be any run of SeriesUID of the collection
    // (1 .. the number of runs); false, and nothing stored, for any other n.
    bool SetCalibrationFactor(int series, double factor);

private:
    imaging::DicomImagesPtr images_;
    std::atomic<int> seriesCount_{0};
    std::mutex writeMutex_;
    mutable std::mutex mutex_;
    std::vector<double> calibration_;
};
using VisitContentPtr = std::shared_ptr<VisitContent>;

namespace loading {

// ---- Series over any image collection (indexes from 1, keys compared exactly) ----

// The entry's series key: SeriesUID, or StudyUID when `stack` is true.
QString SeriesKeyOf(const imaging::DicomImage &image, bool stack);

// Index of the first entry whose key equals `key`; Count + 1 when none; 0 when the
// collection is empty.
int SeriesFirstIndex(const imaging::DicomImages &images, const QString &key, bool stack);
// From SeriesFirstIndex on, the last index before the key changes (or Count).
int SeriesLastIndex(const imaging::DicomImages &images, const QString &key, bool stack);
// Entries of the run (0 when none).
int SeriesImageCount(const imaging::DicomImages &images, const QString &key, bool stack);
// SeriesUID of the entry after / before the run; empty at the ends.
QString NextSeriesKey(const imaging::DicomImages &images, const QString &key, bool stack);
QString PriorSeriesKey(const imaging::DicomImages &images, const QString &key, bool stack);
// Two lines: SeriesUID and StudyUID of the entry after / before the run; two empty
// lines when none.
QStringList NextSeriesKeys(const imaging::DicomImages &images, const QString &key, bool stack);
QStringList PriorSeriesKeys(const imaging::DicomImages &images, const QString &key, bool stack);
// Number of runs of equal key over the whole collection.
int CountSeries(const imaging::DicomImages &images, bool stack);
// Number of runs of equal SeriesUID up to and including the first entry with `seriesUid`.
int SeriesOrdinal(const imaging::DicomImages &images, const QString &seriesUid);
// First / last index of `seriesUid` in a control's own collection; 0 when absent.
int ViewerSeriesFirstIndex(const imaging::DicomImages &images, const QString &seriesUid);
int ViewerSeriesLastIndex(const imaging::DicomImages &images, const QString &seriesUid);

// ---- Text and attribute functions ----

// The attribute's value as trimmed text; empty when absent or not readable as text.
QString AttributeText(const imaging::DicomAttributes &attributes, int group, int element);
// Text of an attribute that may have been read without a dictionary entry, as a private attribute is before its
// description is declared: bytes are taken as Latin-1, without their padding.
QString PrivateText(const imaging::DicomAttributes &attributes, int group, int element);
// Declares the visit comment's private attributes, (0009,0001) the flag and (0009,0003) the text, in the
// component's dictionary, so that they read and list as "Commentaire".
void DeclareCommentAttributes();
// From the first occurrence of `prefix` to the next carriage return (or the end); empty
// when the prefix does not occur.
QString TextLine(const QString &prefix, const QString &text);
// The text with the whole line holding `prefix` replaced by `newLine`; an empty new
// line leaves an empty line, except for "Lgd:", which then stays alone. Empty when the
// prefix does not occur.
QString ReplaceTextLine(const QString &prefix, const QString &text, const QString &newLine);
// Sets Level and Width from Window Center / Width (0028,1050/1051), or from the pixel
// range when they are absent (a range of two values, a single-bit image, shows them
// black and white).
void DefaultWindow(imaging::DicomImage &image);
// Trimmed Name + " / " + study date + " " + study time; with `demo` the name is "NOM PATIENT", as in the corner
// texts, so that a demonstration never shows a real name. The one-argument form follows the "/DEMO" option.
QString StudyCaption(const imaging::DicomImage &image, bool demo);
QString StudyCaption(const imaging::DicomImage &image);
// Series Description, else Body Part Examined, else "N/A".
QString SeriesCaption(const imaging::DicomAttributes &attributes);

// Rounds half to even (2047.5 -> 2048, 2046.5 -> 2046).
long long RoundHalfEven(double value);

} // namespace loading

// The visit as the shared data module holds it (a part of TemplateDM, reached with
// VisitData()): the current content, replaced at every open-visit command, and the
// stack-mode switch that decides the series key. Every function runs on the main
// thread; the loader works on the VisitContent it was handed.
class TVisitData : public TTemplateDMPart
{
public:
    TVisitData();

    // The current collection (never null).
    imaging::DicomImagesPtr VisitImages() const { return content_->Images(); }
    const VisitContentPtr &Content() const { return content_; }
    // A new empty collection (and series count) in place of the old one. The old one is
    // released here; a loader that still runs keeps it alive until it ends.
    void ResetVisitImages();
    // Empties the current collection (the child window closed).
    void ClearVisitImages();

    int SeriesCount() const { return content_->SeriesCount(); }
    std::vector<double> CalibrationFactors() const { return content_->CalibrationFactors(); }
    double CalibrationFactor(int series) const { return content_->CalibrationFactor(series); }
    bool SetCalibrationFactor(int series, double f) { return content_->SetCalibrationFactor(series, f); }

    // Where stack mode is read from (the main window's TBStack pressed state).
    void SetStackModeSource(std::function<bool()> source) { stackSource_ = std::move(source); }
    bool StackMode() const { return stackSource_ && stackSource_(); }
    QString SeriesKey(const imaging::DicomImage &image) const;

    int SeriesFirstIndex(const QString &key) const;
    int SeriesLastIndex(const QString &key) const;
    int SeriesImageCount(const QString &key) const;
    QString NextSeriesKey(const QString &key) const;
    QString PriorSeriesKey(const QString &key) const;
    QStringList NextSeriesKeys(const QString &key) const;
    QStringList PriorSeriesKeys(const QString &key) const;
    int CountSeries() const;
    int SeriesOrdinal(const QString &seriesUid) const;
    static int ViewerSeriesFirstIndex(const imaging::DicomImages &controlImages, const QString &uid);
    static int ViewerSeriesLastIndex(const imaging::DicomImages &controlImages, const QString &uid);

private:
    VisitContentPtr content_;
    std::function<bool()> stackSource_;
};

// The data module's visit (TemplateDM().Part<TVisitData>()).
TVisitData &VisitData();
