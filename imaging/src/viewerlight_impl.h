#pragma once
// The on-screen control's implementation (see include/imaging/viewerlight.h).

#include "cellrenderer.h"
#include "imaging/viewerlight.h"

#include <QElapsedTimer>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

namespace imaging::detail {

// Frame that a cine shows after `frame` in `mode` (1 forward once, 2 reverse once,
// 3 repeat, 4 oscillate); `direction` (+1 / -1) is the oscillation's current way and is
// updated. Returns `frame` itself when the cine has come to its end.
int NextCineFrame(int mode, int frame, int frameCount, int &direction);

// The image's own frame rate: 1000 / Frame Time (0018,1063), else Cine Rate (0018,0040),
// else Recommended Display Frame Rate (0008,2144), else kDefaultCineFramesPerSecond.
inline constexpr double kDefaultCineFramesPerSecond = 10.0;
double NativeFramesPerSecond(const DicomImage &image);

// The timing of one cine. Step n falls due n periods after the start, computed from the
// start each time, so a late tick never pushes the later steps back (no drift); a tick
// that finds several steps due shows only the frame due now, skipping the ones whose
// time has passed (no burst of catch-up frames after a slow paint).
class CineSchedule
{
public:
    // Starts at `nowNs` on `frame` of `frameCount`; `mode` as NextCineFrame's.
    void Start(qint64 nowNs, double framesPerSecond, int mode, int frame, int frameCount);
    // A new rate from `nowNs` on: the next step falls due one new period from now; the
    // frame and the oscillation's way are kept.
    void Retime(qint64 nowNs, double framesPerSecond);
    struct Step
    {
        bool changed = false;
        int frame = 0;     // the frame due now
        qint64 number = 0; // its step number since the (re)start
        qint64 dueNs = 0;  // when it fell due
    };
    // Takes every step due by `nowNs`; the result's frame is the one to show.
    Step Advance(qint64 nowNs);
    // When the next step falls due (meaningless once finished).
    qint64 NextDueNs() const { return DueNs(steps_ + 1); }
    qint64 DueNs(qint64 step) const;
    bool Finished() const { return finished_; }
    // The frames the cine will show after the one it shows now, in the order it first
    // shows each, at most `n`, leaving out the frame shown now: forward or backward to
    // the end, round from the last to the first (repeat), back at each end (oscillate).
    // Empty for a cine that has come to its end. The schedule itself is not changed.
    std::vector<int> NextFrames(int n) const;
    int Frame() const { return frame_; }
    int Mode() const { return mode_; }
    double FramesPerSecond() const { return framesPerSecond_; }

private:
    int mode_ = 0, frame_ = 1, frameCount_ = 1, direction_ = 1;
    double framesPerSecond_ = 0;
    qint64 startNs_ = 0, steps_ = 0;
    bool finished_ = false;
};

class ViewerLight final : public DicomViewerLight
{
public:
    explicit ViewerLight(QWidget *parent = nullptr);
    ~ViewerLight() override;

    DicomImagesPtr Images() const override { return images_; }
    void SetImages(const DicomImagesPtr &images) override;
    DicomImagePtr CurrentImage() const override;
    int CurrentIndex() const override { return currentIndex_; }
    void SetCurrentIndex(int index) override;
    DicomLabelsPtr Labels() const override { return labels_; }
    int MultiRows() const override { return rows_; }
    void SetMultiRows(int rows) override;
    int MultiColumns() const override { return columns_; }
    void SetMultiColumns(int columns) override;
    int BorderStyle() const override { return borderStyle_; }
    void SetBorderStyle(int style) override;
    int CellSpacing() const override { return cellSpacing_; }
    void SetCellSpacing(int pixels) override;
    int BackColour() const override { return backColour_; }
    void SetBackColour(int colour) override;

    QRectF CellRect(int cell) const override;
    int ImageIndex(int x, int y) const override;
    int ImageXPosition(int x, int y) const override;
    int ImageYPosition(int x, int y) const override;
    DicomLabelsPtr LabelHits(int x, int y, bool imageLabels, bool controlLabels,
                             bool visibleOnly) const override;
    QList<DrawnLine> DrawnTextLines(int imageIndex, int labelNumber) const override;
    void Refresh() override;
    void XorDrawLabel(const DicomLabel &label, int imageIndex) override;
    QImage Picture(const DicomImagePtr &image, QSize size) const override;
    DicomImagePtr SubImage(const DicomImagePtr &image, int x, int y, int width, int height,
                           double magnification, int frame) const override;
    double CineFramesPerSecond(const DicomImage &image) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // What a cell showed of its image when it was last drawn.
    struct Shown
    {
        double zoom = 0, width = 0, level = 0;
        int scrollX = 0, scrollY = 0, frame = 0, rotate = 0, flip = 0;
        int magnification = 0, minification = 0, borderWidth = 0, borderStyle = 0, borderColour = 0;
        int labelCount = 0;
        int cineMode = 0;
        double cineRate = 0;
        bool stretch = false, showLabels = false;
        bool operator==(const Shown &) const = default;
        static Shown Of(const DicomImage &image);
    };
    struct Watch
    {
        std::weak_ptr<DicomImage> image;
        int listenerId = 0;
        Shown shown; // when last drawn
        Shown seen;  // at the last drawing or notification
        double reportedZoom = -1; // ActualZoom last given to OnZoomChanged
    };
    struct Cine
    {
        std::weak_ptr<DicomImage> image;
        int mode = 0;
        double rate = 0;
        CineSchedule schedule;
    };
    struct XorMark
    {
        DicomLabelPtr label; // a snapshot
        int imageIndex = 0;
    };

    int CellCount() const { return rows_ * columns_; }
    // Cell under a client point (-1 off the cells) and the image of a cell.
    int CellAt(QPointF client) const;
    DicomImagePtr ImageOfCell(int cell) const;
    // The image's geometry with this control's cell for it.
    DisplayGeometry GeometryIn(const DicomImage &image, int cell) const;
    LabelSpace ControlSpace() const;
    LabelSpace SpaceForImageIndex(int imageIndex) const;
    // Listeners, on-screen marks, display cells and cines of the images in the cells.
    void SyncCells();
    void ReleaseWatches();
    void ImageChanged(const DicomImage *key);
    // Starts, re-times and stops the cines of the images in the cells; true when one
    // started, stopped or changed its mode or rate.
    bool SyncCines();
    bool SyncCinesNow();
    void CineStep();
    void CineTick();
    // Arms the cine timer for the next step due among the playing cines.
    void ArmCineTimer();
    static bool SameSnapshot(const DicomLabel &a, const DicomLabel &b);
    // Asks the background decoding for the frames the cines in the cells show next, then
    // for the images that come after the cells in the way the user scrolls (direction_),
    // replacing what this control asked for before.
    void PlanDecodeAhead();

    DicomImagesPtr images_;
    DicomLabelsPtr labels_;
    int currentIndex_ = 1;
    int direction_ = 1; // +1 forward, -1 backward: the way of the last step
    int rows_ = 1;
    int columns_ = 1;
    int borderStyle_ = 0;
    int cellSpacing_ = 0;
    int backColour_ = 0;
    bool syncing_ = false;
    bool inCine_ = false;
    std::map<const DicomImage *, Watch> watches_;
    std::map<const DicomImage *, Cine> cines_;
    std::vector<XorMark> xorMarks_;
    // One shot, armed for the next step due.
    QTimer cineTimer_;
    // Turning ShowUpdates back on does not notify the listeners: a visible control looks
    // at what changed since it drew its images a few times a second.
    QTimer cinePoll_;
    void Poll();
    mutable FrameConverter converter_;
    std::shared_ptr<bool> alive_;
};

} // namespace imaging::detail
