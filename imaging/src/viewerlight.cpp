#include "viewerlight_impl.h"

#include "decodeahead.h"
#include "internal.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QUuid>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace imaging::detail {

namespace {

constexpr int kMaxGrid = 16;
constexpr int kCinePollMilliseconds = 100;
// Set while a control writes an image's DisplayCell. An image shown by two controls at
// once (a frame and the magnifier) gets a cell from each; the notifications of these
// writes are ignored by every control, or the two would repaint each other forever.
thread_local bool tWritingCells = false;
// A one-pixel frame around each cell's slot with BorderStyle 1.
const QColor kSlotFrameColour(128, 128, 128);

double AttributeNumber(const DicomImage &image, int group, int element)
{
    const DicomAttributesPtr attributes = image.Attributes();
    if (!attributes)
        return 0;
    const DicomAttributePtr a = attributes->Item(group, element);
    if (!a || !a->Exists())
        return 0;
    bool ok = false;
    const double v = a->ValueByIndex(1).toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

// A UID of the "2.25" arc: a random UUID written as one decimal integer.
QString NewUid()
{
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    unsigned __int128 value = 0;
    for (char b : bytes)
        value = (value << 8) | static_cast<unsigned char>(b);
    QString digits;
    do {
        digits.prepend(QChar('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return QStringLiteral("2.25.") + digits;
}

} // namespace

int NextCineFrame(int mode, int frame, int frameCount, int &direction)
{
    if (frameCount < 2)
        return frame;
    switch (mode) {
    case 1:
        return frame < frameCount ? frame + 1 : frame;
    case 2:
        return frame > 1 ? frame - 1 : frame;
    case 3:
        return frame < frameCount ? frame + 1 : 1;
    case 4:
        if (direction >= 0 && frame >= frameCount)
            direction = -1;
        else if (direction < 0 && frame <= 1)
            direction = 1;
        return frame + direction;
    default:
        return frame;
    }
}

double NativeFramesPerSecond(const DicomImage &image)
{
    const double frameTime = AttributeNumber(image, 0x0018, 0x1063);
    if (frameTime > 0)
        return 1000.0 / frameTime;
    const double cineRate = AttributeNumber(image, 0x0018, 0x0040);
    if (cineRate > 0)
        return cineRate;
    const double recommended = AttributeNumber(image, 0x0008, 0x2144);
    if (recommended > 0)
        return recommended;
    return kDefaultCineFramesPerSecond;
}

void CineSchedule::Start(qint64 nowNs, double framesPerSecond, int mode, int frame, int frameCount)
{
    mode_ = mode;
    frame_ = frame;
    frameCount_ = frameCount;
    direction_ = mode == 2 ? -1 : 1;
    finished_ = false;
    Retime(nowNs, framesPerSecond);
}

void CineSchedule::Retime(qint64 nowNs, double framesPerSecond)
{
    framesPerSecond_ = framesPerSecond;
    startNs_ = nowNs;
    steps_ = 0;
}

qint64 CineSchedule::DueNs(qint64 step) const
{
    if (framesPerSecond_ <= 0)
        return std::numeric_limits<qint64>::max();
    return startNs_ + qint64(std::llround(double(step) * 1e9 / framesPerSecond_));
}

CineSchedule::Step CineSchedule::Advance(qint64 nowNs)
{
    Step step;
    step.frame = frame_;
    step.number = steps_;
    step.dueNs = DueNs(steps_);
    if (finished_ || framesPerSecond_ <= 0)
        return step;
    // Jump straight to the step due now (a long stall would otherwise walk every step).
    qint64 due = qint64(std::floor(double(nowNs - startNs_) * framesPerSecond_ / 1e9));
    while (due > steps_ && DueNs(due) > nowNs)
        --due;
    while (DueNs(due + 1) <= nowNs)
        ++due;
    while (steps_ < due) {
        const int next = NextCineFrame(mode_, frame_, frameCount_, direction_);
        if (next == frame_) {
            finished_ = true;
            break;
        }
        frame_ = next;
        ++steps_;
        step.changed = true;
        // A repeating or oscillating cine comes back to the same frame every cycle: only
        // the part of the way left after whole cycles needs walking.
        if ((mode_ == 3 || mode_ == 4) && due - steps_ > 4 * qint64(frameCount_)) {
            const qint64 cycle = mode_ == 3 ? frameCount_ : 2 * qint64(frameCount_ - 1);
            if (cycle > 0)
                steps_ += (due - steps_) / cycle * cycle;
        }
    }
    step.frame = frame_;
    step.number = steps_;
    step.dueNs = DueNs(steps_);
    return step;
}

std::vector<int> CineSchedule::NextFrames(int n) const
{
    std::vector<int> out;
    if (finished_ || framesPerSecond_ <= 0 || n <= 0)
        return out;
    int frame = frame_, direction = direction_;
    // Every frame a cine shows comes round within two passes over the image.
    for (int k = 0; k < 2 * frameCount_ && static_cast<int>(out.size()) < n; ++k) {
        const int next = NextCineFrame(mode_, frame, frameCount_, direction);
        if (next == frame)
            break; // a one-way cine at its end
        frame = next;
        if (frame != frame_ && std::find(out.begin(), out.end(), frame) == out.end())
            out.push_back(frame);
    }
    return out;
}

ViewerLight::ViewerLight(QWidget *parent)
    : DicomViewerLight(parent), images_(CreateImages()), labels_(CreateLabels()),
      alive_(std::make_shared<bool>(true))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    cineTimer_.setTimerType(Qt::PreciseTimer);
    cineTimer_.setSingleShot(true);
    QObject::connect(&cineTimer_, &QTimer::timeout, this, [this] { CineTick(); });
    cinePoll_.setInterval(kCinePollMilliseconds);
    QObject::connect(&cinePoll_, &QTimer::timeout, this, [this] { Poll(); });
}

ViewerLight::~ViewerLight()
{
    DecodeAhead::instance().Cancel(this);
    alive_.reset();
    cineTimer_.stop();
    ReleaseWatches();
}

void ViewerLight::SetImages(const DicomImagesPtr &images)
{
    ReleaseWatches();
    images_ = images ? images : CreateImages();
    converter_.Clear();
    direction_ = 1;
    PlanDecodeAhead();
    update();
}

DicomImagePtr ViewerLight::CurrentImage() const
{
    return images_ ? images_->Item(currentIndex_) : nullptr;
}

void ViewerLight::SetCurrentIndex(int index)
{
    const int old = currentIndex_;
    currentIndex_ = std::max(1, index);
    // The way the user scrolls: that of the last step; from the first image, forward.
    if (currentIndex_ == 1 || currentIndex_ > old)
        direction_ = 1;
    else if (currentIndex_ < old)
        direction_ = -1;
    PlanDecodeAhead();
    update();
}

void ViewerLight::PlanDecodeAhead()
{
    // A hidden control shows nothing next; a control without images wants nothing.
    const int count = images_ && isVisible() ? images_->Count() : 0;
    std::vector<DecodeJob> jobs;
    // First the frames the cines in the cells show next: each cine's next frame, then
    // each one's second, and so on, so that no cine waits behind another's far frames.
    if (count > 0 && !cines_.empty()) {
        std::vector<std::pair<DecodeJob, std::vector<int>>> playing;
        for (int k = 0; k < CellCount(); ++k) {
            const DicomImagePtr image = ImageOfCell(k);
            const auto it = image ? cines_.find(image.get()) : cines_.end();
            if (it == cines_.end() || it->second.image.lock() != image)
                continue;
            DecodeJob job = DecodeJobOf(*image);
            if (job.source)
                playing.emplace_back(std::move(job), it->second.schedule.NextFrames(DecodeAhead::kDepth));
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(DecodeAhead::kDepth); ++i) {
            for (const auto &[image, frames] : playing) {
                if (i < frames.size()) {
                    jobs.push_back(image);
                    jobs.back().frame = frames[i];
                }
            }
        }
    }
    // Then the images after the cells, in the way the user scrolls.
    int next = direction_ > 0 ? currentIndex_ + CellCount() : currentIndex_ - 1;
    for (int k = 0; k < DecodeAhead::kDepth && next >= 1 && next <= count; ++k, next += direction_) {
        if (const DicomImagePtr image = images_->Item(next)) {
            DecodeJob job = DecodeJobOf(*image);
            if (job.source)
                jobs.push_back(std::move(job));
        }
    }
    DecodeAhead::instance().Plan(this, jobs);
}

void ViewerLight::SetMultiRows(int rows)
{
    rows_ = std::clamp(rows, 1, kMaxGrid);
    update();
}

void ViewerLight::SetMultiColumns(int columns)
{
    columns_ = std::clamp(columns, 1, kMaxGrid);
    update();
}

void ViewerLight::SetBorderStyle(int style)
{
    borderStyle_ = style;
    update();
}

void ViewerLight::SetCellSpacing(int pixels)
{
    cellSpacing_ = std::max(0, pixels);
    update();
}

void ViewerLight::SetBackColour(int colour)
{
    backColour_ = colour & 0xFFFFFF;
    update();
}

QRectF ViewerLight::CellRect(int cell) const
{
    if (cell < 0 || cell >= CellCount())
        return {};
    const int row = cell / columns_, column = cell % columns_;
    const int w = width(), h = height();
    const int left = column * w / columns_, right = (column + 1) * w / columns_;
    const int top = row * h / rows_, bottom = (row + 1) * h / rows_;
    const int before = cellSpacing_ / 2, after = cellSpacing_ - before;
    QRect r(QPoint(left + before, top + before), QPoint(right - 1 - after, bottom - 1 - after));
    if (r.width() <= 0 || r.height() <= 0)
        return {};
    return QRectF(r);
}

int ViewerLight::CellAt(QPointF client) const
{
    for (int k = 0; k < CellCount(); ++k) {
        const QRectF r = CellRect(k);
        if (client.x() >= r.left() && client.x() < r.right() && client.y() >= r.top()
            && client.y() < r.bottom())
            return k;
    }
    return -1;
}

DicomImagePtr ViewerLight::ImageOfCell(int cell) const
{
    if (cell < 0 || cell >= CellCount() || !images_)
        return nullptr;
    return images_->Item(currentIndex_ + cell);
}

DisplayGeometry ViewerLight::GeometryIn(const DicomImage &image, int cell) const
{
    DisplayGeometry g = image.Geometry();
    g.cell = CellRect(cell);
    return g;
}

// Client pixel (x, y) covers [x, x + 1) x [y, y + 1): its centre decides the cell and
// the image pixel, so that flips and rotations map pixels onto pixels exactly.
static QPointF PixelCentre(int x, int y)
{
    return QPointF(x + 0.5, y + 0.5);
}

int ViewerLight::ImageIndex(int x, int y) const
{
    const int cell = CellAt(PixelCentre(x, y));
    return ImageOfCell(cell) ? currentIndex_ + cell : 0;
}

int ViewerLight::ImageXPosition(int x, int y) const
{
    const int cell = CellAt(PixelCentre(x, y));
    const DicomImagePtr image = ImageOfCell(cell);
    if (!image)
        return -1;
    return ImagePixelAt(GeometryIn(*image, cell), PixelCentre(x, y)).x;
}

int ViewerLight::ImageYPosition(int x, int y) const
{
    const int cell = CellAt(PixelCentre(x, y));
    const DicomImagePtr image = ImageOfCell(cell);
    if (!image)
        return -1;
    return ImagePixelAt(GeometryIn(*image, cell), PixelCentre(x, y)).y;
}

LabelSpace ViewerLight::ControlSpace() const
{
    LabelSpace space;
    space.cell = QRectF(rect());
    if (const DicomImagePtr first = ImageOfCell(0)) {
        space.image = first.get();
        space.imageToClient = ImageToClientTransform(GeometryIn(*first, 0));
    }
    return space;
}

LabelSpace ViewerLight::SpaceForImageIndex(int imageIndex) const
{
    const int cell = imageIndex - currentIndex_;
    const DicomImagePtr image = ImageOfCell(cell);
    if (imageIndex <= 0 || !image)
        return ControlSpace();
    LabelSpace space;
    space.cell = CellRect(cell);
    space.image = image.get();
    space.imageToClient = ImageToClientTransform(GeometryIn(*image, cell));
    if (image->ShowLabels()) {
        NoteCellTexts(space, image->Labels().get());
        KeepRulersClearOfTexts(space, image->Labels().get());
    }
    return space;
}

QList<DicomViewerLight::DrawnLine> ViewerLight::DrawnTextLines(int imageIndex, int labelNumber) const
{
    QList<DrawnLine> lines;
    const DicomImagePtr image = ImageOfCell(imageIndex - currentIndex_);
    if (imageIndex <= 0 || !image || !image->ShowLabels())
        return lines;
    const DicomLabelPtr label = image->Labels()->Item(labelNumber);
    if (!label || !label->Visible())
        return lines;
    const TextLayout layout = LayOutText(*label, SpaceForImageIndex(imageIndex));
    for (int i = 0; i < int(layout.lines.size()); ++i)
        lines.append({layout.lines[i], layout.lineRects[std::size_t(i)]});
    return lines;
}

DicomLabelsPtr ViewerLight::LabelHits(int x, int y, bool imageLabels, bool controlLabels,
                                      bool visibleOnly) const
{
    DicomLabelsPtr hits = CreateLabels();
    const QPointF p = PixelCentre(x, y);
    auto collect = [&](const DicomLabelsPtr &labels, const LabelSpace &space) {
        const int n = labels ? labels->Count() : 0;
        for (int i = 1; i <= n; ++i) {
            const DicomLabelPtr label = labels->Item(i);
            if (!label || (visibleOnly && !label->Visible()))
                continue;
            if (LabelHit(*label, space, p))
                hits->Add(label);
        }
    };
    if (imageLabels) {
        const int cell = CellAt(p);
        const DicomImagePtr image = ImageOfCell(cell);
        if (image && image->ShowLabels())
            collect(image->Labels(), SpaceForImageIndex(currentIndex_ + cell));
    }
    if (controlLabels)
        collect(labels_, ControlSpace());
    return hits;
}

void ViewerLight::Refresh()
{
    xorMarks_.clear();
    converter_.Clear();
    SyncCells();
    SyncCines();
    // The images may have been changed from outside (another series in the control).
    PlanDecodeAhead();
    repaint();
}

bool ViewerLight::SameSnapshot(const DicomLabel &a, const DicomLabel &b)
{
    if (a.LabelType() != b.LabelType() || a.Left() != b.Left() || a.Top() != b.Top()
        || a.Width() != b.Width() || a.Height() != b.Height() || a.ImageTied() != b.ImageTied()
        || a.ScaleWithCell() != b.ScaleWithCell() || a.LineWidth() != b.LineWidth()
        || a.LineStyle() != b.LineStyle() || a.ForeColour() != b.ForeColour()
        || a.PointCount() != b.PointCount() || a.Text() != b.Text())
        return false;
    for (int i = 1; i <= a.PointCount(); ++i)
        if (a.PointAt(i) != b.PointAt(i))
            return false;
    return true;
}

void ViewerLight::XorDrawLabel(const DicomLabel &label, int imageIndex)
{
    // XOR twice restores the pixels: a mark equal to one already drawn cancels it.
    for (auto it = xorMarks_.begin(); it != xorMarks_.end(); ++it) {
        if (it->imageIndex == imageIndex && SameSnapshot(*it->label, label)) {
            xorMarks_.erase(it);
            update();
            return;
        }
    }
    xorMarks_.push_back({label.Clone(), imageIndex});
    // An erase and a redraw made in one event reach the screen in one repaint.
    update();
}

void ViewerLight::ReleaseWatches()
{
    for (auto &[key, watch] : watches_) {
        if (const DicomImagePtr image = watch.image.lock()) {
            image->RemoveChangeListener(watch.listenerId);
            image->SetOnScreen(false);
        }
    }
    watches_.clear();
    cines_.clear();
    cineTimer_.stop();
}

void ViewerLight::ImageChanged(const DicomImage *key)
{
    if (syncing_)
        return;
    auto it = watches_.find(key);
    if (it != watches_.end()) {
        if (const DicomImagePtr image = it->second.image.lock()) {
            // A notification that changed nothing of the display state is a refresh of
            // the image (its pixels may have changed in place): convert its frame anew.
            const Shown now = Shown::Of(*image);
            if (now == it->second.seen)
                converter_.Forget(key);
            it->second.seen = now;
        }
    }
    if (SyncCines())
        PlanDecodeAhead();
    update();
}

void ViewerLight::SyncCells()
{
    syncing_ = true;
    std::map<const DicomImage *, DicomImagePtr> shown;
    for (int k = 0; k < CellCount(); ++k) {
        const DicomImagePtr image = ImageOfCell(k);
        if (!image)
            continue;
        shown.emplace(image.get(), image);
        const QRectF cell = CellRect(k);
        if (!cell.isEmpty() && image->DisplayCell() != cell) {
            tWritingCells = true;
            image->SetDisplayCell(cell);
            tWritingCells = false;
        }
    }
    // Stop listening to images that left the cells.
    for (auto it = watches_.begin(); it != watches_.end();) {
        const DicomImagePtr image = it->second.image.lock();
        if (!image || !shown.count(it->first) || shown[it->first] != image) {
            if (image) {
                image->RemoveChangeListener(it->second.listenerId);
                image->SetOnScreen(false);
            }
            converter_.Forget(it->first);
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto &[key, image] : shown) {
        if (watches_.count(key))
            continue;
        std::weak_ptr<bool> alive = alive_;
        QThread *guiThread = thread();
        const DicomImage *watched = key;
        const int id = image->AddChangeListener([this, alive, guiThread, watched] {
            if (tWritingCells)
                return;
            if (QThread::currentThread() == guiThread) {
                if (!alive.expired())
                    ImageChanged(watched);
                return;
            }
            // Changes made by another thread reach the control through the event loop.
            QMetaObject::invokeMethod(qApp, [this, alive, watched] {
                if (!alive.expired())
                    ImageChanged(watched);
            }, Qt::QueuedConnection);
        });
        image->SetOnScreen(true);
        const Shown now = Shown::Of(*image);
        watches_[key] = Watch{image, id, now, now};
    }
    // The owner hears of every image whose zoom in effect changed, so that what it writes
    // about the zoom stays true after a layout change. Its label changes need no
    // notification here: the cells are drawn after this.
    std::vector<int> rezoomed;
    for (int k = 0; k < CellCount(); ++k) {
        const DicomImagePtr image = ImageOfCell(k);
        auto it = image ? watches_.find(image.get()) : watches_.end();
        if (it == watches_.end() || CellRect(k).isEmpty())
            continue;
        const double zoom = image->ActualZoom();
        if (std::fabs(zoom - it->second.reportedZoom) > 1e-9) {
            it->second.reportedZoom = zoom;
            rezoomed.push_back(currentIndex_ + k);
        }
    }
    if (OnZoomChanged)
        for (int index : rezoomed)
            OnZoomChanged(index);
    syncing_ = false;
}

bool ViewerLight::SyncCines()
{
    // Owner callbacks run from here (frame changes) may refresh the image and so come
    // back here; the outer call finishes the work.
    if (inCine_)
        return false;
    inCine_ = true;
    const bool changed = SyncCinesNow();
    inCine_ = false;
    return changed;
}

bool ViewerLight::SyncCinesNow()
{
    bool changed = false;
    std::map<const DicomImage *, DicomImagePtr> playing;
    for (int k = 0; k < CellCount(); ++k) {
        const DicomImagePtr image = ImageOfCell(k);
        if (image && image->CineMode() >= 1 && image->CineMode() <= 4 && image->FrameCount() > 1
            && image->CineRate() > 0)
            playing.emplace(image.get(), image);
    }
    for (auto it = cines_.begin(); it != cines_.end();) {
        auto found = playing.find(it->first);
        if (found == playing.end() || it->second.image.lock() != found->second) {
            it = cines_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    const qint64 now = CineClockNs();
    for (auto &[key, image] : playing) {
        auto [it, added] = cines_.try_emplace(key);
        Cine &cine = it->second;
        const int mode = image->CineMode();
        const double rate = image->CineRate();
        if (added || cine.mode != mode) {
            changed = true;
            cine.image = image;
            cine.mode = mode;
            cine.rate = rate;
            // A cine started at the end it runs towards starts over from the other end.
            const int count = image->FrameCount();
            int frame = std::clamp(image->Frame(), 1, count);
            if ((mode == 1 && frame >= count) || (mode == 2 && frame <= 1)) {
                frame = mode == 1 ? 1 : count;
                if (OnFrameChanging)
                    OnFrameChanging(images_->IndexOf(image.get()), frame);
                syncing_ = true;
                image->SetFrame(frame);
                syncing_ = false;
                update();
            }
            cine.schedule.Start(now, CineFramesPerSecond(*image), mode, frame, count);
        } else if (cine.rate != rate) {
            changed = true;
            cine.rate = rate;
            cine.schedule.Retime(now, CineFramesPerSecond(*image));
        }
    }
    ArmCineTimer();
    return changed;
}

void ViewerLight::ArmCineTimer()
{
    qint64 next = std::numeric_limits<qint64>::max();
    for (auto &[key, cine] : cines_)
        if (!cine.schedule.Finished())
            next = std::min(next, cine.schedule.NextDueNs());
    if (next == std::numeric_limits<qint64>::max()) {
        cineTimer_.stop();
        return;
    }
    // Whole milliseconds, rounded up so that the tick does not come before the step.
    const qint64 waitNs = std::max<qint64>(0, next - CineClockNs());
    cineTimer_.start(int(std::min<qint64>((waitNs + 999999) / 1000000, 1000)));
}

void ViewerLight::CineTick()
{
    if (inCine_)
        return;
    inCine_ = true;
    CineStep();
    inCine_ = false;
    ArmCineTimer();
}

void ViewerLight::CineStep()
{
    const qint64 now = CineClockNs();
    struct Shown { DicomImagePtr image; CineSchedule::Step step; };
    std::vector<Shown> steps;
    for (auto &[key, cine] : cines_) {
        const DicomImagePtr image = cine.image.lock();
        if (!image || cine.schedule.Finished())
            continue;
        const CineSchedule::Step step = cine.schedule.Advance(now);
        if (step.changed)
            steps.push_back({image, step});
    }
    for (const Shown &s : steps) {
        const int index = images_->IndexOf(s.image.get());
        if (OnFrameChanging)
            OnFrameChanging(index, s.step.frame);
        syncing_ = true;
        s.image->SetFrame(s.step.frame);
        syncing_ = false;
    }
    if (steps.empty())
        return;
    // The frames the cines show next, from where they are now: those they have passed
    // are dropped before any decoding thread starts them.
    PlanDecodeAhead();
    // Shown now rather than at the next paint the event loop gets round to, so that the
    // frame reaches the screen at its time.
    repaint();
    for (const Shown &s : steps)
        if (OnCineFrame)
            OnCineFrame(images_->IndexOf(s.image.get()), s.step.frame, s.step.number, s.step.dueNs);
}

double ViewerLight::CineFramesPerSecond(const DicomImage &image) const
{
    return NativeFramesPerSecond(image) * std::max(0.0, image.CineRate());
}

void ViewerLight::paintEvent(QPaintEvent *)
{
    SyncCells();
    QPainter painter(this);
    const QColor back = ColourToQColor(backColour_);
    painter.fillRect(rect(), back);
    const int w = width(), h = height();
    for (int k = 0; k < CellCount(); ++k) {
        const int row = k / columns_, column = k % columns_;
        const QRect slot(QPoint(column * w / columns_, row * h / rows_),
                         QPoint((column + 1) * w / columns_ - 1, (row + 1) * h / rows_ - 1));
        const QRectF cell = CellRect(k);
        const DicomImagePtr image = ImageOfCell(k);
        if (image && !cell.isEmpty()) {
            if (auto it = watches_.find(image.get()); it != watches_.end())
                it->second.shown = it->second.seen = Shown::Of(*image);
            CellDrawOptions options;
            options.updateAutoSize = true;
            options.borderClip = QRectF(slot);
            options.converter = &converter_;
            DrawImageCell(painter, *image, GeometryIn(*image, k), options);
        }
        if (borderStyle_ == 1) {
            painter.setPen(kSlotFrameColour);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(slot).adjusted(0.5, 0.5, -0.5, -0.5));
        }
    }
    const int n = labels_ ? labels_->Count() : 0;
    if (n > 0) {
        const LabelSpace space = ControlSpace();
        for (int i = 1; i <= n; ++i) {
            const DicomLabelPtr label = labels_->Item(i);
            if (label && label->Visible())
                DrawLabel(painter, *label, space);
        }
    }
    LabelDrawOptions xorOptions;
    xorOptions.outlineOnly = true;
    xorOptions.forceXor = true;
    for (const XorMark &mark : xorMarks_)
        DrawLabel(painter, *mark.label, SpaceForImageIndex(mark.imageIndex), xorOptions);
}

void ViewerLight::resizeEvent(QResizeEvent *event)
{
    DicomViewerLight::resizeEvent(event);
    SyncCells();
}

void ViewerLight::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void ViewerLight::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(event->buttons(), event->modifiers(), p.x(), p.y());
}

void ViewerLight::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void ViewerLight::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click is still a press: the owner sees press and
    // release in pairs, then the double click.
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
    if (OnDoubleClick)
        OnDoubleClick(event->button(), event->modifiers(), p.x(), p.y());
}

void ViewerLight::wheelEvent(QWheelEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseWheel) {
        OnMouseWheel(event->angleDelta().y(), event->modifiers(), p.x(), p.y());
        event->accept();
    } else {
        event->ignore();
    }
}

void ViewerLight::focusInEvent(QFocusEvent *event)
{
    DicomViewerLight::focusInEvent(event);
    if (OnFocusIn)
        OnFocusIn();
}

void ViewerLight::focusOutEvent(QFocusEvent *event)
{
    DicomViewerLight::focusOutEvent(event);
    if (OnFocusOut)
        OnFocusOut();
}

ViewerLight::Shown ViewerLight::Shown::Of(const DicomImage &image)
{
    Shown s;
    s.zoom = image.Zoom();
    s.width = image.Width();
    s.level = image.Level();
    s.scrollX = image.ScrollX();
    s.scrollY = image.ScrollY();
    s.frame = image.Frame();
    s.rotate = image.RotateState();
    s.flip = image.FlipState();
    s.magnification = image.MagnificationMode();
    s.minification = image.MinificationMode();
    s.borderWidth = image.BorderWidth();
    s.borderStyle = image.BorderStyle();
    s.borderColour = image.BorderColour();
    const DicomLabelsPtr labels = image.Labels();
    s.labelCount = labels ? labels->Count() : 0;
    s.stretch = image.StretchToFit();
    s.showLabels = image.ShowLabels();
    s.cineMode = image.CineMode();
    s.cineRate = image.CineRate();
    return s;
}

void ViewerLight::Poll()
{
    if (SyncCines())
        PlanDecodeAhead();
    // Changes made while an image's ShowUpdates was false were not announced: draw them
    // once it is true again.
    for (int k = 0; k < CellCount(); ++k) {
        const DicomImagePtr image = ImageOfCell(k);
        if (!image || !image->ShowUpdates())
            continue;
        auto it = watches_.find(image.get());
        if (it == watches_.end() || !(it->second.shown == Shown::Of(*image))) {
            update();
            return;
        }
    }
}

void ViewerLight::showEvent(QShowEvent *event)
{
    DicomViewerLight::showEvent(event);
    cinePoll_.start();
    PlanDecodeAhead();
}

void ViewerLight::hideEvent(QHideEvent *event)
{
    DicomViewerLight::hideEvent(event);
    cinePoll_.stop();
    DecodeAhead::instance().Cancel(this);
}

QImage ViewerLight::Picture(const DicomImagePtr &image, QSize size) const
{
    if (!image)
        return {};
    DisplayGeometry g = image->Geometry();
    QRectF cell = g.cell;
    if (cell.isEmpty())
        cell = g.cell = QRectF(0, 0, std::max(1, image->SizeX()), std::max(1, image->SizeY()));
    const QSize out = size.isValid() && !size.isEmpty() ? size : cell.size().toSize();
    QImage picture(out, QImage::Format_RGB32);
    picture.fill(ColourToQColor(backColour_));
    QPainter painter(&picture);
    const double scale = std::min(out.width() / cell.width(), out.height() / cell.height());
    painter.translate((out.width() - cell.width() * scale) / 2, (out.height() - cell.height() * scale) / 2);
    painter.scale(scale, scale);
    painter.translate(-cell.topLeft());
    // Drawn from the same prepared frame as on screen, so the picture matches the cell.
    FrameConverter converter;
    CellDrawOptions options;
    options.drawBorder = false;
    options.converter = &converter;
    DrawImageCell(painter, *image, g, options);
    return picture;
}

DicomImagePtr ViewerLight::SubImage(const DicomImagePtr &image, int x, int y, int width, int height,
                                    double magnification, int frame) const
{
    if (!image)
        throw DicomError(QStringLiteral("SubImage: no image"));
    if (x < 1 || y < 1 || width < 1 || height < 1 || x - 1 + width > image->SizeX()
        || y - 1 + height > image->SizeY())
        throw DicomError(QStringLiteral("SubImage: region %1,%2 %3 x %4 is outside the %5 x %6 image")
                             .arg(x).arg(y).arg(width).arg(height).arg(image->SizeX()).arg(image->SizeY()));
    if (!(magnification >= 0.01 && magnification <= 16))
        throw DicomError(QStringLiteral("SubImage: magnification %1 is outside 0.01 .. 16").arg(magnification));
    // Non-square pixels come out square: the copy has the proportions of the cell.
    const QSizeF shape = PixelScale(image->Geometry());
    const int outWidth = std::max(1, int(std::lround(width * magnification * shape.width())));
    const int outHeight = std::max(1, int(std::lround(height * magnification * shape.height())));
    if (qint64(outWidth) * outHeight > 64ll * 1024 * 1024)
        throw DicomError(QStringLiteral("SubImage: %1 x %2 pixels is too large").arg(outWidth).arg(outHeight));

    // A second entry of the image, sharing its pixels, carries the frame and the framing
    // so that the image itself (and the controls that show it) see no change.
    const DicomImagesPtr scratch = CreateImages();
    scratch->Add(image);
    const DicomImagePtr entry = scratch->Add(image);
    entry->SetShowUpdates(false);
    entry->SetFrame(frame);
    entry->SetRotateState(0);
    entry->SetFlipState(0);
    entry->SetStretchToFit(false);
    entry->SetZoom(magnification);
    entry->SetScrollX(int(std::lround((x - 1) * magnification * shape.width())));
    entry->SetScrollY(int(std::lround((y - 1) * magnification * shape.height())));
    entry->SetDisplayCell(QRectF(0, 0, outWidth, outHeight));
    DisplayGeometry g = entry->Geometry();
    g.cell = QRectF(0, 0, outWidth, outHeight);
    g.scrollX = (x - 1) * magnification * shape.width();
    g.scrollY = (y - 1) * magnification * shape.height();

    entry->DisplayFrame(); // throws DicomError when the pixels cannot be decoded
    QImage picture(outWidth, outHeight, QImage::Format_RGB888);
    picture.fill(Qt::black);
    {
        QPainter painter(&picture);
        CellDrawOptions options;
        options.drawBorder = false;
        DrawImageCell(painter, *entry, g, options);
    }

    const DicomDataSetPtr dataSet = CreateDataSet();
    const DicomAttributesPtr out = dataSet->Attributes();
    const DicomAttributesPtr in = image->Attributes();
    for (auto [group, element] : {std::pair{0x0008, 0x0020}, {0x0008, 0x0030}, {0x0008, 0x0050},
                                  {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030},
                                  {0x0010, 0x0040}, {0x0020, 0x0010}, {0x0020, 0x0011},
                                  {0x0020, 0x0013}}) {
        const DicomAttributePtr a = in ? in->Item(group, element) : nullptr;
        if (a && a->Exists() && a->Value().isValid())
            out->Add(group, element, a->Value(), a->VR());
    }
    out->Add(0x0008, 0x0016, QStringLiteral("1.2.840.10008.5.1.4.1.1.7"), QStringLiteral("UI"));
    out->Add(0x0008, 0x0018, NewUid(), QStringLiteral("UI"));
    out->Add(0x0008, 0x0060, QStringLiteral("OT"), QStringLiteral("CS"));
    out->Add(0x0020, 0x000D, image->StudyUID(), QStringLiteral("UI"));
    out->Add(0x0020, 0x000E, image->SeriesUID(), QStringLiteral("UI"));
    out->Add(0x0028, 0x0002, 3, QStringLiteral("US"));
    out->Add(0x0028, 0x0004, QStringLiteral("RGB"), QStringLiteral("CS"));
    out->Add(0x0028, 0x0006, 0, QStringLiteral("US"));
    out->Add(0x0028, 0x0010, outHeight, QStringLiteral("US"));
    out->Add(0x0028, 0x0011, outWidth, QStringLiteral("US"));
    out->Add(0x0028, 0x0100, 8, QStringLiteral("US"));
    out->Add(0x0028, 0x0101, 8, QStringLiteral("US"));
    out->Add(0x0028, 0x0102, 7, QStringLiteral("US"));
    out->Add(0x0028, 0x0103, 0, QStringLiteral("US"));
    QByteArray pixels;
    pixels.reserve(outWidth * outHeight * 3 + 1);
    for (int row = 0; row < outHeight; ++row)
        pixels.append(reinterpret_cast<const char *>(picture.constScanLine(row)), outWidth * 3);
    if (pixels.size() % 2)
        pixels.append('\0');
    out->Add(0x7FE0, 0x0010, pixels, QStringLiteral("OB"));

    const DicomImagePtr result = dataSet->MakeImage();
    result->SetStretchToFit(true);
    return result;
}

ComponentObject *CreateViewerLightObject(QWidget *parent)
{
    return new ViewerLight(parent);
}

} // namespace imaging::detail
