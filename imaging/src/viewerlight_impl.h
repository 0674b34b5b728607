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
        double framesPerSecond = 0;
        QElapsedTimer clock;
        qint64 stepsDone = 0;
        int direction = 1;
        bool finished = false;
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
    void SyncCines();
    void SyncCinesNow();
    void CineStep();
    void CineTick();
    static bool SameSnapshot(const DicomLabel &a, const DicomLabel &b);

    DicomImagesPtr images_;
    DicomLabelsPtr labels_;
    int currentIndex_ = 1;
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
    QTimer cineTimer_;
    // Setting CineMode or CineRate need not notify the listeners, nor does turning
    // ShowUpdates back on: a visible control looks at its images' cine settings and at
    // what changed since it drew them a few times a second.
    QTimer cinePoll_;
    void Poll();
    mutable FrameConverter converter_;
    std::shared_ptr<bool> alive_;
};

} // namespace imaging::detail
