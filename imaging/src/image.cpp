// Images and image collections: reading files, display state, windowing to 8 bits.

#include "decodeahead.h"
#include "internal.h"
#include "imaging/pixelspacing.h"
#include "safereading.h"

#include <QFile>
#include <QFileInfo>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace imaging::detail {

namespace {

QString FileError(const QString &path, const QString &reason)
{
    return QStringLiteral("Impossible de lire le fichier DICOM %1 : %2").arg(path, reason);
}

// Overlay plane 6000 as a bitmap, read once per data set.
struct Overlay
{
    int rows = 0, cols = 0, originRow = 1, originCol = 1, frames = 1, firstFrame = 1;
    std::vector<std::uint8_t> bits; // one bit per pixel, little-endian bit order
};

// VOI LUT Sequence (first item).
struct VoiLut
{
    int first = 0;
    int bits = 8;
    std::vector<std::uint16_t> data;
};

// Height over width of one pixel, by the one rule of imaging::PixelAspect (through the
// component's own attributes, as the measurements read it).
double PixelAspectOf(DcmItem *ds)
{
    if (!ds)
        return 1.0;
    // The caller holds the data set's lock; this root only lends the wrappers one.
    const auto lender = std::make_shared<DataRoot>();
    return PixelAspect(*MakeAttributes(ItemRef{lender, ds}));
}

// A date written yyyymmdd (what follows is ignored); invalid otherwise. QDate::fromString
// parses its format anew at each call, a large part of reading a file's identity.
QDate CompactDate(const QString &text)
{
    if (text.size() < 8)
        return QDate();
    int v[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    int at = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < widths[k]; ++i, ++at) {
            const QChar c = text[at];
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return QDate();
            v[k] = v[k] * 10 + (c.unicode() - '0');
        }
    return QDate(v[0], v[1], v[2]); // invalid for a month or day out of range
}

class ImageImpl final : public DicomImage
{
public:
    ImageImpl(ImageSharedPtr shared, const QString &fileName) : fileName_(fileName)
    {
        state_ = std::make_shared<EntryState>();
        state_->shared = std::move(shared);
        labels_ = MakeLabels(state_);
        readIdentity();
    }

    // A new entry sharing the data set and pixels of `other`.
    explicit ImageImpl(const ImageImpl &other)
        : DicomImage(), fileName_(other.fileName_)
    {
        state_ = std::make_shared<EntryState>();
        state_->shared = other.state_->shared;
        state_->frame = other.state_->frame.load();
        state_->modalityLut = other.state_->modalityLut.load();
        labels_ = MakeLabels(state_);
        for (int i = 1; i <= other.labels_->Count(); ++i)
            if (auto l = other.labels_->Item(i))
                labels_->Add(l->Clone());
        id_ = other.id_;
        d_ = other.d_;
        std::lock_guard lock(other.mutex_);
        width_ = other.width_;
        level_ = other.level_;
        windowKnown_ = other.windowKnown_;
    }

    ~ImageImpl() override
    {
        if (d_.onScreen && pixels())
            pixels()->unpin(state_->frame);
    }

    const char *ClassName() const override { return kClassName; }

    QString SOPClass() const override { return id_.sopClass; }
    QString InstanceUID() const override { return id_.instanceUid; }
    QString SeriesUID() const override { return id_.seriesUid; }
    void SetSeriesUID(const QString &v) override { id_.seriesUid = v; }
    QString StudyUID() const override { return id_.studyUid; }
    void SetStudyUID(const QString &v) override { id_.studyUid = v; }
    QString Name() const override { return id_.name; }
    QString PatientID() const override { return id_.patientId; }
    QString Sex() const override { return id_.sex; }
    QDate DateOfBirthAsDate() const override { return id_.birth; }
    QString FileName() const override { return fileName_; }

    DicomAttributesPtr Attributes() const override
    {
        return MakeAttributes(ItemRef{root(), root()->dataset()});
    }
    DicomLabelsPtr Labels() const override { return labels_; }

    int FrameCount() const override
    {
        return pixels() ? std::max(1, pixels()->info().frames) : 1;
    }
    int Frame() const override { return state_->frame; }
    void SetFrame(int v) override
    {
        v = std::clamp(v, 1, FrameCount());
        const int old = state_->frame;
        if (v == old)
            return;
        if (d_.onScreen && pixels()) {
            pixels()->pin(v);
            pixels()->unpin(old);
        }
        state_->frame = v;
        changed();
    }
    int SizeX() const override { return pixels() ? pixels()->info().cols : 0; }
    int SizeY() const override { return pixels() ? pixels()->info().rows : 0; }
    bool IsColour() const override
    {
        return pixels() && !pixels()->info().monochrome();
    }

    double Width() const override
    {
        ensureWindow();
        std::lock_guard lock(mutex_);
        return width_;
    }
    void SetWidth(double v) override
    {
        {
            std::lock_guard lock(mutex_);
            width_ = v;
            // A width given alone leaves the level to the pixels' range; one given after the level keeps it.
            widthPending_ = false;
            if (!windowKnown_) {
                windowKnown_ = true;
                levelPending_ = true;
            }
        }
        changed();
    }
    double Level() const override
    {
        ensureWindow();
        std::lock_guard lock(mutex_);
        return level_;
    }
    void SetLevel(double v) override
    {
        {
            std::lock_guard lock(mutex_);
            level_ = v;
            levelPending_ = false;
            if (!windowKnown_) {
                windowKnown_ = true;
                widthPending_ = true;
            }
        }
        changed();
    }

    double Zoom() const override { return d_.zoom; }
    void SetZoom(double v) override
    {
        if (!(v > 0) || !std::isfinite(v))
            return;
        d_.zoom = v;
        changed();
    }
    double ActualZoom() const override { return imaging::ActualZoom(Geometry()); }
    int ScrollX() const override { return d_.scrollX; }
    void SetScrollX(int v) override { d_.scrollX = v; changed(); }
    int ScrollY() const override { return d_.scrollY; }
    void SetScrollY(int v) override { d_.scrollY = v; changed(); }
    int ActualScrollX() const override { return static_cast<int>(std::lround(ActualScroll(Geometry()).x())); }
    int ActualScrollY() const override { return static_cast<int>(std::lround(ActualScroll(Geometry()).y())); }
    bool StretchToFit() const override { return d_.stretch; }
    void SetStretchToFit(bool v) override { d_.stretch = v; changed(); }
    int FlipState() const override { return d_.flip; }
    void SetFlipState(int v) override { d_.flip = v & 3; changed(); }
    int RotateState() const override { return d_.rotate; }
    void SetRotateState(int v) override { d_.rotate = ((v % 4) + 4) % 4; changed(); }
    QRectF DisplayCell() const override { return d_.cell; }
    void SetDisplayCell(const QRectF &cell) override { d_.cell = cell; }
    int OriginX() const override { return static_cast<int>(std::lround(d_.cell.left())); }
    int OriginY() const override { return static_cast<int>(std::lround(d_.cell.top())); }
    DisplayGeometry Geometry() const override
    {
        DisplayGeometry g;
        g.cell = d_.cell;
        g.sizeX = SizeX();
        g.sizeY = SizeY();
        g.zoom = d_.zoom;
        g.stretchToFit = d_.stretch;
        g.scrollX = d_.scrollX;
        g.scrollY = d_.scrollY;
        g.rotateState = d_.rotate;
        g.flipState = d_.flip;
        g.pixelAspect = d_.pixelAspect;
        return g;
    }

    bool ShowLabels() const override { return d_.showLabels; }
    void SetShowLabels(bool v) override { d_.showLabels = v; changed(); }
    bool ShowUpdates() const override { return d_.showUpdates; }
    void SetShowUpdates(bool v) override { d_.showUpdates = v; }
    int MagnificationMode() const override { return d_.magnification; }
    void SetMagnificationMode(int v) override { d_.magnification = v; changed(); }
    int MinificationMode() const override { return d_.minification; }
    void SetMinificationMode(int v) override { d_.minification = v; changed(); }
    int ModalityLUT() const override { return state_->modalityLut; }
    void SetModalityLUT(int v) override { state_->modalityLut = v; changed(); }
    int VOILUT() const override { return d_.voiLut; }
    void SetVOILUT(int v) override { d_.voiLut = v; changed(); }
    int PresentationLUT() const override { return d_.presentationLut; }
    void SetPresentationLUT(int v) override { d_.presentationLut = v; changed(); }
    bool CacheDisplay() const override { return d_.cacheDisplay; }
    void SetCacheDisplay(bool v) override { d_.cacheDisplay = v; }
    int CineMode() const override { return d_.cineMode; }
    // The controls that show the image start, stop or re-time its cine at once.
    void SetCineMode(int v) override
    {
        if (d_.cineMode == v)
            return;
        d_.cineMode = v;
        notify();
    }
    double CineRate() const override { return d_.cineRate; }
    void SetCineRate(double v) override
    {
        if (d_.cineRate == v)
            return;
        d_.cineRate = v;
        notify();
    }
    int BorderWidth() const override { return d_.borderWidth; }
    void SetBorderWidth(int v) override { d_.borderWidth = v; changed(); }
    int BorderStyle() const override { return d_.borderStyle; }
    void SetBorderStyle(int v) override { d_.borderStyle = v; changed(); }
    int BorderColour() const override { return d_.borderColour; }
    void SetBorderColour(int v) override { d_.borderColour = v; changed(); }
    QVariant Tag() const override { return d_.tag; }
    void SetTag(const QVariant &v) override { d_.tag = v; }

    double MaximumPixelValue() const override { return pixelRange().second; }
    double MinimumPixelValue() const override { return pixelRange().first; }

    double PixelValue(int x, int y) const override
    {
        if (!pixels() || x < 0 || y < 0 || x >= SizeX() || y >= SizeY())
            return std::numeric_limits<double>::quiet_NaN();
        FramePtr f = pixels()->frame(state_->frame);
        const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(f->width) + static_cast<std::size_t>(x);
        if (f->colour) {
            const std::uint32_t c = f->rgb[i];
            return (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF)) / 3.0;
        }
        return pixels()->rescale(f->value(i), state_->modalityLut != 0);
    }

    QImage DisplayFrame() const override { return Render(false, QImage()); }
    // The display frame; as 32-bit pixels when `rgb32` (grey as equal red, green and
    // blue), then written into `reuse` when it is a picture of that size no one else holds.
    QImage Render(bool rgb32, QImage reuse) const;

    QImage Picture() const override
    {
        QImage img = DisplayFrame();
        // Non-square pixels first (the shorter side of a pixel stays one pixel), then the
        // turns, then the mirrors on the screen's axes: the picture as the cell shows it.
        const QSizeF scale = PixelScale(Geometry());
        if (scale != QSizeF(1, 1) && !img.isNull())
            img = img.scaled(std::max(1, int(std::lround(img.width() * scale.width()))),
                             std::max(1, int(std::lround(img.height() * scale.height()))),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (d_.rotate) {
            QTransform t;
            t.rotate(-90.0 * d_.rotate);
            img = img.transformed(t);
        }
        if (d_.flip)
            img = img.mirrored(d_.flip & 1, d_.flip & 2);
        return img;
    }

    DicomLabelPtr ReferenceLine(const DicomImage &other, bool intersection) const override
    {
        return ReferenceLineBetween(*this, other, intersection);
    }

    void SetOnScreen(bool v) override
    {
        if (v == d_.onScreen)
            return;
        d_.onScreen = v;
        if (!pixels())
            return;
        if (v)
            pixels()->pin(state_->frame);
        else {
            pixels()->unpin(state_->frame);
            FrameCache::instance().evict();
        }
    }
    bool OnScreen() const override { return d_.onScreen; }

    void Refresh(bool) override { notify(); }
    int AddChangeListener(std::function<void()> listener) override
    {
        std::lock_guard lock(mutex_);
        const int id = ++nextListener_;
        listeners_[id] = std::move(listener);
        return id;
    }
    void RemoveChangeListener(int id) override
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(id);
    }

    QString EdgeOrientation(const QString &edge) const override
    {
        double r[3], c[3];
        DcmDataset *ds = root()->dataset();
        std::lock_guard lock(root()->mutex);
        for (int i = 0; i < 3; ++i) {
            if (!ItemDouble(ds, DCM_ImageOrientationPatient, r[i], static_cast<unsigned long>(i))
                || !ItemDouble(ds, DCM_ImageOrientationPatient, c[i], static_cast<unsigned long>(i + 3)))
                return QString();
        }
        return EdgeOrientationLetters(r, c, Geometry(), edge, GlobalDirectionStrings());
    }

    const ImageSharedPtr &shared() const { return state_->shared; }

private:
    struct Identity
    {
        QString sopClass, instanceUid, seriesUid, studyUid, name, patientId, sex;
        QDate birth;
    };
    struct Display
    {
        double zoom = 1.0;
        int scrollX = 0, scrollY = 0;
        // A new image is shown whole, fitted to its cell and centred.
        bool stretch = true;
        // Row spacing over column spacing (see PixelAspectOf); read once with the file.
        double pixelAspect = 1.0;
        int flip = 0, rotate = 0;
        QRectF cell{0, 0, 512, 512};
        bool showLabels = true, showUpdates = true, cacheDisplay = true, onScreen = false;
        int magnification = 0, minification = 1;
        int voiLut = 0, presentationLut = 0;
        int cineMode = 0;
        double cineRate = 1; // a factor on the image's own frame rate
        int borderWidth = 0, borderStyle = 0, borderColour = 0xC0C0C0;
        QVariant tag;
    };

    const DataRootPtr &root() const { return state_->shared->root; }
    PixelSource *pixels() const { return state_->shared->pixels.get(); }

    void readIdentity()
    {
        std::lock_guard lock(root()->mutex);
        DcmDataset *ds = root()->dataset();
        const ElementIndexScope index(ds);
        id_.sopClass = ItemText(ds, DCM_SOPClassUID);
        id_.instanceUid = ItemText(ds, DCM_SOPInstanceUID);
        id_.seriesUid = ItemText(ds, DCM_SeriesInstanceUID);
        id_.studyUid = ItemText(ds, DCM_StudyInstanceUID);
        id_.name = ItemText(ds, DCM_PatientName);
        id_.patientId = ItemText(ds, DCM_PatientID);
        id_.sex = ItemText(ds, DCM_PatientSex);
        const QString birth = ItemText(ds, DCM_PatientBirthDate);
        id_.birth = CompactDate(birth);
        if (!id_.birth.isValid() && birth.size() == 10) // the old "yyyy.mm.dd" form
            id_.birth = QDate::fromString(birth, QStringLiteral("yyyy.MM.dd"));
        d_.pixelAspect = PixelAspectOf(ds);
        double c = 0, w = 0;
        if (ItemDouble(ds, DCM_WindowCenter, c) && ItemDouble(ds, DCM_WindowWidth, w) && w != 0) {
            level_ = c;
            width_ = w;
            windowKnown_ = true;
        }
        std::lock_guard l2(mutex_);
        readVoiAndPresentation(ds);
    }

    void readVoiAndPresentation(DcmDataset *ds)
    {
        if (DcmItem *item = FirstSequenceItem(ds, DCM_VOILUTSequence)) {
            long entries = 0, first = 0, bits = 0;
            DcmElement *el = nullptr;
            if (ItemInt(item, DCM_LUTDescriptor, entries, 0) && ItemInt(item, DCM_LUTDescriptor, first, 1)
                && ItemInt(item, DCM_LUTDescriptor, bits, 2)) {
                if (entries <= 0)
                    entries += 65536;
                Uint16 *w = nullptr;
                if (entries > 0 && entries <= 65536 && bits >= 8 && bits <= 16
                    && item->findAndGetElement(DCM_LUTData, el, OFFalse).good() && el
                    && el->getLength() / 2 >= static_cast<Uint32>(entries) && el->getUint16Array(w).good() && w) {
                    voi_ = std::make_shared<VoiLut>();
                    voi_->first = static_cast<int>(first);
                    voi_->bits = static_cast<int>(bits);
                    voi_->data.assign(w, w + entries);
                }
            }
        }
    }

    std::pair<double, double> pixelRange() const
    {
        if (!pixels())
            return {0, 0};
        FramePtr f = pixels()->frame(state_->frame);
        if (f->colour)
            return {0, 255};
        const bool useLut = state_->modalityLut != 0;
        double a = pixels()->rescale(f->minStored, useLut);
        double b = pixels()->rescale(f->maxStored, useLut);
        if (useLut && static_cast<std::int64_t>(f->maxStored) - f->minStored <= 65536) {
            for (std::int32_t s = f->minStored; s <= f->maxStored; ++s) {
                const double v = pixels()->rescale(s, true);
                a = std::min(a, v);
                b = std::max(b, v);
            }
        }
        return {std::min(a, b), std::max(a, b)};
    }

    // Width and level from the pixel range when the data set gives none.
    void ensureWindow() const
    {
        {
            std::lock_guard lock(mutex_);
            if (windowKnown_ && !widthPending_ && !levelPending_)
                return;
        }
        double mn = 0, mx = 255;
        try {
            if (pixels() && !IsColour()) {
                auto r = pixelRange();
                mn = r.first;
                mx = r.second;
            }
        } catch (const DicomError &) {
            // Undecodable pixels: keep a plain 8-bit window; drawing reports the error.
        }
        std::lock_guard lock(mutex_);
        if (!windowKnown_ || widthPending_)
            width_ = mx - mn + 1;
        // The middle of the range, a half rounded to even. A range of two values (a
        // single-bit image, a segmentation mask) takes the upper one: at level 0, width 2
        // both values would show white; at level 1 they show black and white.
        if (!windowKnown_ || levelPending_)
            level_ = mx - mn == 1 ? mx : std::nearbyint((mx + mn) / 2.0);
        windowKnown_ = true;
        widthPending_ = levelPending_ = false;
    }

    const Overlay *overlay() const;

    void changed()
    {
        if (d_.showUpdates)
            notify();
    }
    void notify()
    {
        std::map<int, std::function<void()>> copy;
        {
            std::lock_guard lock(mutex_);
            copy = listeners_;
        }
        for (auto &[id, fn] : copy)
            if (fn)
                fn();
    }

    EntryStatePtr state_;
    DicomLabelsPtr labels_;
    QString fileName_;
    Identity id_;
    Display d_;
    mutable std::mutex mutex_;
    mutable double width_ = 256, level_ = 128;
    mutable bool windowKnown_ = false, widthPending_ = false, levelPending_ = false;
    std::shared_ptr<VoiLut> voi_;
    mutable std::shared_ptr<Overlay> overlay_;
    mutable bool overlayRead_ = false;
    std::map<int, std::function<void()>> listeners_;
    int nextListener_ = 0;
};

const Overlay *ImageImpl::overlay() const
{
    std::lock_guard rl(root()->mutex);
    DcmDataset *ds = root()->dataset();
    // Plane 6000 is shown when the image activates it on one of its graphic layers; the
    // activation is looked at on every display (the loader adds it after reading).
    const QString layer = ItemText(ds, DcmTagKey(0x6000, 0x1001));
    if (layer.isEmpty())
        return nullptr;
    bool layerKnown = false;
    DcmSequenceOfItems *layers = nullptr;
    if (ds->findAndGetSequence(DCM_GraphicLayerSequence, layers, OFFalse).good() && layers) {
        for (DcmObject *item : SequenceMembers(layers))
            if (ItemText(static_cast<DcmItem *>(item), DCM_GraphicLayer) == layer)
                layerKnown = true;
    }
    if (!layerKnown)
        return nullptr;
    std::lock_guard lock(mutex_);
    if (overlayRead_)
        return overlay_.get();
    overlayRead_ = true;
    auto ov = std::make_shared<Overlay>();
    long v = 0;
    if (!ItemInt(ds, DcmTagKey(0x6000, 0x0010), v) || v <= 0)
        return nullptr;
    ov->rows = static_cast<int>(v);
    if (!ItemInt(ds, DcmTagKey(0x6000, 0x0011), v) || v <= 0)
        return nullptr;
    ov->cols = static_cast<int>(v);
    if (ItemInt(ds, DcmTagKey(0x6000, 0x0050), v, 0))
        ov->originRow = static_cast<int>(v);
    if (ItemInt(ds, DcmTagKey(0x6000, 0x0050), v, 1))
        ov->originCol = static_cast<int>(v);
    if (ItemInt(ds, DcmTagKey(0x6000, 0x0015), v) && v > 0)
        ov->frames = static_cast<int>(v);
    if (ItemInt(ds, DcmTagKey(0x6000, 0x0051), v) && v > 0)
        ov->firstFrame = static_cast<int>(v);
    DcmElement *el = nullptr;
    if (ds->findAndGetElement(DcmTagKey(0x6000, 0x3000), el, OFFalse).bad() || !el)
        return nullptr;
    const std::uint64_t need = (static_cast<std::uint64_t>(ov->rows) * ov->cols * ov->frames + 7) / 8;
    if (el->getLength() < need)
        return nullptr;
    Uint8 *bytes = nullptr;
    if (el->ident() == EVR_OW) {
        Uint16 *w = nullptr;
        if (el->getUint16Array(w).bad() || !w)
            return nullptr;
        bytes = reinterpret_cast<Uint8 *>(w); // little-endian machine: the bit stream order
    } else if (el->getUint8Array(bytes).bad() || !bytes) {
        return nullptr;
    }
    ov->bits.assign(bytes, bytes + need);
    overlay_ = ov;
    return overlay_.get();
}

// A picture of w x h pixels in `format`: `reuse` itself when it has that size and format
// and nothing else holds it, else a new one.
QImage PictureFor(int w, int h, QImage::Format format, QImage &&reuse)
{
    if (reuse.width() == w && reuse.height() == h && reuse.format() == format && reuse.isDetached())
        return std::move(reuse);
    return QImage(w, h, format);
}

QImage ImageImpl::Render(bool rgb32, QImage reuse) const
{
    if (!pixels())
        throw DicomError(QStringLiteral("Cette image ne contient pas de pixels."));
    FramePtr f = pixels()->frame(state_->frame);
    const int w = f->width, h = f->height;
    double width = Width(), level = Level();
    bool invert = width < 0;
    width = std::max(1.0, std::fabs(width));
    QImage img;
    if (f->colour) {
        img = PictureFor(w, h, QImage::Format_RGB32, std::move(reuse));
        for (int y = 0; y < h; ++y)
            std::memcpy(img.scanLine(y), f->rgb.data() + static_cast<std::size_t>(y) * w, static_cast<std::size_t>(w) * 4);
        if (invert)
            img.invertPixels();
    } else {
        const PixelInfo &info = pixels()->info();
        if (info.photometric == "MONOCHROME1")
            invert = !invert;
        if (d_.presentationLut != 0) {
            std::lock_guard rl(root()->mutex);
            if (ItemText(root()->dataset(), DCM_PresentationLUTShape).toUpper() == "INVERSE")
                invert = !invert;
        }
        const bool useModality = state_->modalityLut != 0;
        const bool useVoi = d_.voiLut != 0 && voi_;
        // One table entry per stored value: modality rescale, VOI window, inversion.
        const double low = level - 0.5 - (width - 1) / 2;
        const double high = level - 0.5 + (width - 1) / 2;
        auto toByte = [&](std::int32_t s) -> std::uint8_t {
            const double m = pixels()->rescale(s, useModality);
            double y;
            if (useVoi) {
                long i = std::clamp<long>(std::lround(m) - voi_->first, 0, static_cast<long>(voi_->data.size()) - 1);
                y = voi_->data[static_cast<size_t>(i)] / double((1 << voi_->bits) - 1);
            } else if (m <= low) {
                y = 0;
            } else if (m > high) {
                y = 1;
            } else {
                y = width > 1 ? (m - (level - 0.5)) / (width - 1) + 0.5 : 1;
            }
            y = std::clamp(y, 0.0, 1.0);
            const auto b = static_cast<std::uint8_t>(std::lround(y * 255));
            return invert ? static_cast<std::uint8_t>(255 - b) : b;
        };
        img = PictureFor(w, h, rgb32 ? QImage::Format_RGB32 : QImage::Format_Grayscale8, std::move(reuse));
        const std::int64_t range = static_cast<std::int64_t>(f->maxStored) - f->minStored + 1;
        // Rows reached through the image's bits once (scanLine checks and detaches at each
        // call), four pixels per turn.
        std::uint8_t *bits = img.bits();
        const qsizetype stride = img.bytesPerLine();
        auto windowFrom = [&](const auto *src, auto *table) {
            using Pixel = std::remove_const_t<std::remove_pointer_t<decltype(table)>>;
            // The table indexed by the stored value itself.
            const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(table)
                                        - static_cast<std::uintptr_t>(static_cast<std::intptr_t>(f->minStored))
                                              * sizeof(Pixel);
            for (int y = 0; y < h; ++y) {
                auto *dst = reinterpret_cast<Pixel *>(bits + stride * y);
                const auto *row = src + static_cast<std::size_t>(y) * w;
                int x = 0;
                for (; x + 4 <= w; x += 4) {
                    const Pixel a = *reinterpret_cast<const Pixel *>(base + std::intptr_t(row[x]) * sizeof(Pixel));
                    const Pixel b = *reinterpret_cast<const Pixel *>(base + std::intptr_t(row[x + 1]) * sizeof(Pixel));
                    const Pixel c = *reinterpret_cast<const Pixel *>(base + std::intptr_t(row[x + 2]) * sizeof(Pixel));
                    const Pixel d = *reinterpret_cast<const Pixel *>(base + std::intptr_t(row[x + 3]) * sizeof(Pixel));
                    dst[x] = a;
                    dst[x + 1] = b;
                    dst[x + 2] = c;
                    dst[x + 3] = d;
                }
                for (; x < w; ++x)
                    dst[x] = *reinterpret_cast<const Pixel *>(base + std::intptr_t(row[x]) * sizeof(Pixel));
            }
        };
        auto window = [&](auto *table) {
            if (f->narrow())
                windowFrom(f->mono16.data(), table);
            else
                windowFrom(f->mono.data(), table);
        };
        if (range <= (1 << 22)) {
            // One table entry per stored value between the frame's smallest and largest.
            if (rgb32) {
                std::vector<QRgb> table(static_cast<std::size_t>(range));
                for (std::int64_t k = 0; k < range; ++k)
                    table[static_cast<std::size_t>(k)] =
                        0xFF000000u | std::uint32_t(toByte(static_cast<std::int32_t>(f->minStored + k))) * 0x010101u;
                window(static_cast<const QRgb *>(table.data()));
            } else {
                std::vector<std::uint8_t> table(static_cast<std::size_t>(range));
                for (std::int64_t k = 0; k < range; ++k)
                    table[static_cast<std::size_t>(k)] = toByte(static_cast<std::int32_t>(f->minStored + k));
                window(static_cast<const std::uint8_t *>(table.data()));
            }
        } else {
            for (int y = 0; y < h; ++y) {
                std::uint8_t *dst = bits + stride * y;
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t b = toByte(f->value(static_cast<std::size_t>(y) * w + x));
                    if (rgb32)
                        reinterpret_cast<QRgb *>(dst)[x] = 0xFF000000u | std::uint32_t(b) * 0x010101u;
                    else
                        dst[x] = b;
                }
            }
        }
    }
    if (const Overlay *ov = overlay()) {
        int plane = 0;
        if (ov->frames > 1) {
            plane = state_->frame - ov->firstFrame;
            if (plane < 0 || plane >= ov->frames)
                plane = -1;
        }
        if (plane >= 0) {
            const std::size_t base = static_cast<std::size_t>(plane) * ov->rows * ov->cols;
            for (int r = 0; r < ov->rows; ++r) {
                const int y = r + ov->originRow - 1;
                if (y < 0 || y >= h)
                    continue;
                for (int c = 0; c < ov->cols; ++c) {
                    const int x = c + ov->originCol - 1;
                    if (x < 0 || x >= w)
                        continue;
                    const std::size_t bit = base + static_cast<std::size_t>(r) * ov->cols + c;
                    if ((ov->bits[bit / 8] >> (bit % 8)) & 1) {
                        if (img.format() == QImage::Format_RGB32)
                            reinterpret_cast<QRgb *>(img.scanLine(y))[x] = 0xFFFFFFFFu;
                        else
                            img.scanLine(y)[x] = 255;
                    }
                }
            }
        }
    }
    return img;
}

class ImagesImpl final : public DicomImages
{
public:
    const char *ClassName() const override { return kClassName; }
    int Count() const override
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(items_.size());
    }
    DicomImagePtr Item(int index) const override
    {
        std::lock_guard lock(mutex_);
        if (index < 1 || index > static_cast<int>(items_.size()))
            return nullptr;
        return items_[static_cast<std::size_t>(index - 1)];
    }
    DicomImagePtr Add(const DicomImagePtr &image) override
    {
        if (!image)
            return nullptr;
        DicomImagePtr entry = image;
        if (IndexOf(image.get()) != 0) {
            if (auto *impl = dynamic_cast<ImageImpl *>(image.get()))
                entry = std::make_shared<ImageImpl>(*impl);
        }
        std::lock_guard lock(mutex_);
        items_.push_back(entry);
        return entry;
    }
    void Move(int from, int to) override
    {
        std::lock_guard lock(mutex_);
        const int n = static_cast<int>(items_.size());
        if (from < 1 || from > n || to < 1 || to > n || from == to)
            return;
        DicomImagePtr e = items_[static_cast<std::size_t>(from - 1)];
        items_.erase(items_.begin() + (from - 1));
        items_.insert(items_.begin() + (to - 1), e);
    }
    void Remove(int index) override
    {
        std::lock_guard lock(mutex_);
        if (index >= 1 && index <= static_cast<int>(items_.size()))
            items_.erase(items_.begin() + (index - 1));
    }
    void Clear() override
    {
        std::vector<DicomImagePtr> old;
        {
            std::lock_guard lock(mutex_);
            old.swap(items_);
        }
    }
    DicomImagePtr ReadFile(const QString &path) override
    {
        DicomImagePtr image = ReadImageFile(path);
        std::lock_guard lock(mutex_);
        items_.push_back(image);
        return image;
    }
    int IndexOf(const DicomImage *image) const override
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == image)
                return static_cast<int>(i) + 1;
        return 0;
    }

private:
    mutable std::mutex mutex_;
    std::vector<DicomImagePtr> items_;
};

} // namespace

QImage DisplayFrameRgb32(const DicomImage &image, QImage &reuse)
{
    if (const auto *impl = dynamic_cast<const ImageImpl *>(&image))
        return impl->Render(true, std::exchange(reuse, QImage()));
    return QImage();
}

DecodeJob DecodeJobOf(const DicomImage &image)
{
    const auto *impl = dynamic_cast<const ImageImpl *>(&image);
    if (!impl || !impl->shared() || !impl->shared()->pixels)
        return {};
    return {impl->shared()->pixels, impl->Frame()};
}

DicomImagePtr MakeImage(ImageSharedPtr shared, const QString &fileName)
{
    return std::make_shared<ImageImpl>(std::move(shared), fileName);
}

DicomImagePtr ReadImageFile(const QString &path)
{
    EnsureDcmtkInitialised();
    QFileInfo fi(path);
    if (path.isEmpty() || !fi.exists())
        throw DicomError(FileError(path, QStringLiteral("le fichier n'existe pas.")));
    if (fi.isDir())
        throw DicomError(FileError(path, QStringLiteral("c'est un dossier.")));
    if (fi.size() == 0)
        throw DicomError(FileError(path, QStringLiteral("le fichier est vide.")));
    // The file is opened and its first bytes read once, for the checks and for DCMTK.
    CheckedFile checked(path);
    if (const QString reason = checked.reasonNotToParse(); !reason.isEmpty())
        throw DicomError(FileError(path, reason));
    try {
        auto root = std::make_shared<DataRoot>();
        root->file = std::make_unique<DcmFileFormat>();
        root->fileName = path;
        OFCondition cond = checked.isOpen()
                               ? checked.load(*root->file, DCM_MaxReadLength)
                               : root->file->loadFile(OFFilename(QFile::encodeName(path).constData()), EXS_Unknown,
                                                      EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
        if (cond.bad())
            throw DicomError(FileError(path, ParseFailureReason(cond)), QString::fromLatin1(cond.text()));
        DcmDataset *ds = root->dataset();
        DcmMetaInfo *meta = root->file->getMetaInfo();
        const bool hasMeta = meta && meta->tagExists(DCM_TransferSyntaxUID);
        // Every attribute read from here on is found in one table of the data set's members.
        const ElementIndexScope index(ds);
        const bool looksDicom = ds && (FindElement(ds, DCM_SOPClassUID) || FindElement(ds, DCM_PixelData)
                                       || FindElement(ds, DCM_StudyInstanceUID) || FindElement(ds, DCM_Rows));
        if (!ds || ds->card() == 0 || (!hasMeta && !looksDicom))
            throw DicomError(FileError(path, QStringLiteral("ce n'est pas un fichier DICOM.")));
        // A value that runs past the end of the file means a truncated file: refuse it
        // now rather than when its pixels are wanted.
        DcmElement *pd = FindElement(ds, DCM_PixelData);
        if (ds->getOriginalXfer() != EXS_DeflatedLittleEndianExplicit && pd
            && pd->getLength() != DCM_UndefinedLength
            && static_cast<qint64>(pd->getLength()) > fi.size())
            throw DicomError(FileError(path, QStringLiteral("le fichier est tronqué.")));
        auto shared = std::make_shared<ImageShared>();
        shared->root = root;
        if (pd) {
            shared->pixels = std::make_shared<PixelSource>(root);
            if (!shared->pixels->info().hasPixels)
                shared->pixels.reset();
        }
        return MakeImage(shared, path);
    } catch (const DicomError &e) {
        const QString msg = e.Message();
        if (msg.startsWith(QStringLiteral("Impossible de lire")))
            throw;
        throw DicomError(FileError(path, msg), e.Detail());
    } catch (const std::bad_alloc &) {
        throw DicomError(FileError(path, QStringLiteral("mémoire insuffisante.")));
    } catch (const std::exception &e) {
        // DCMTK lets some of its own faults on odd values escape as exceptions.
        throw DicomError(FileError(path, QStringLiteral("sa structure DICOM est invalide.")), QString::fromUtf8(e.what()));
    }
}

ComponentObject *NewImagesObject()
{
    return new ImagesImpl();
}

ComponentObject *NewImageObject()
{
    auto shared = std::make_shared<ImageShared>();
    shared->root = NewEmptyRoot();
    return new ImageImpl(shared, QString());
}

} // namespace imaging::detail

namespace imaging {

DicomImagesPtr CreateImages()
{
    return std::make_shared<detail::ImagesImpl>();
}

DicomImagePtr CreateImage()
{
    auto shared = std::make_shared<detail::ImageShared>();
    shared->root = detail::NewEmptyRoot();
    return detail::MakeImage(shared, QString());
}

} // namespace imaging
