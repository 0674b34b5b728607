// Labels, label collections and the measurements made with them.

#include "internal.h"

#include <cmath>
#include <limits>

namespace imaging::detail {

namespace {

inline int To16(int v)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
}

class LabelImpl final : public DicomLabel
{
public:
    const char *ClassName() const override { return kClassName; }

    int Left() const override { return left_; }
    void SetLeft(int v) override { left_ = To16(v); }
    int Top() const override { return top_; }
    void SetTop(int v) override { top_ = To16(v); }
    int Width() const override { return width_; }
    void SetWidth(int v) override { width_ = To16(v); }
    int Height() const override { return height_; }
    void SetHeight(int v) override { height_ = To16(v); }
    int LabelType() const override { return type_; }
    void SetLabelType(int v) override { type_ = v; }
    QString Text() const override { return text_; }
    void SetText(const QString &v) override { text_ = v; }
    QString FontName() const override { return fontName_; }
    void SetFontName(const QString &v) override { fontName_ = v; }
    int FontSize() const override { return fontSize_; }
    void SetFontSize(int v) override { fontSize_ = v; }
    int Alignment() const override { return alignment_; }
    void SetAlignment(int v) override { alignment_ = v; }
    int ForeColour() const override { return fore_; }
    void SetForeColour(int v) override { fore_ = v; }
    int BackColour() const override { return back_; }
    void SetBackColour(int v) override { back_ = v; }
    bool Transparent() const override { return transparent_; }
    void SetTransparent(bool v) override { transparent_ = v; }
    int LineWidth() const override { return lineWidth_; }
    void SetLineWidth(int v) override { lineWidth_ = v; }
    int LineStyle() const override { return lineStyle_; }
    void SetLineStyle(int v) override { lineStyle_ = v; }
    bool XOR() const override { return xor_; }
    void SetXOR(bool v) override { xor_ = v; }
    bool Visible() const override { return visible_; }
    void SetVisible(bool v) override { visible_ = v; }
    bool AutoSize() const override { return autoSize_; }
    void SetAutoSize(bool v) override { autoSize_ = v; }
    int SelectMode() const override { return selectMode_; }
    void SetSelectMode(int v) override { selectMode_ = v; }
    bool ImageTied() const override { return imageTied_; }
    void SetImageTied(bool v) override { imageTied_ = v; }
    bool ScaleWithCell() const override { return scaleWithCell_; }
    void SetScaleWithCell(bool v) override { scaleWithCell_ = v; }
    bool ScaleFontSize() const override { return scaleFontSize_; }
    void SetScaleFontSize(bool v) override { scaleFontSize_ = v; }
    bool RotateTextWithImage() const override { return rotateText_; }
    void SetRotateTextWithImage(bool v) override { rotateText_ = v; }
    bool WrapText() const override { return wrapText_; }
    void SetWrapText(bool v) override { wrapText_ = v; }
    int Shadow() const override { return shadow_; }
    void SetShadow(int v) override { shadow_ = v; }
    QVariant Tag() const override { return tag_; }
    void SetTag(const QVariant &v) override { tag_ = v; }

    void AddPoint(double x, double y) override { points_.emplace_back(x, y); }
    int PointCount() const override { return static_cast<int>(points_.size()); }
    QPointF PointAt(int index) const override
    {
        if (index < 1 || index > PointCount())
            return QPointF();
        return points_[static_cast<std::size_t>(index - 1)];
    }
    void ClearPoints() override { points_.clear(); }

    void Rescale(const DicomImage &image) override { RescaleWith(image.Geometry()); }

    void RescaleWith(const DisplayGeometry &g) override
    {
        if (imageTied_)
            return;
        // A client pixel (x, y) covers [x, x + 1) x [y, y + 1): its centre decides the
        // image pixel, as the control's ImageXPosition / ImageYPosition (the readout) do,
        // so that a mark starts and ends on the pixel named under the mouse.
        auto toImage = [&](QPointF p) {
            QPointF client = scaleWithCell_ ? CellUnitsToClient(g.cell, p) : p + QPointF(0.5, 0.5);
            return ClientToImage(g, client);
        };
        const QPointF a = toImage(QPointF(left_, top_));
        const QPointF b = toImage(QPointF(left_ + width_, top_ + height_));
        // Image positions are the pixels under the points, as the control reports them.
        const int ax = static_cast<int>(std::floor(a.x())), ay = static_cast<int>(std::floor(a.y()));
        const int bx = static_cast<int>(std::floor(b.x())), by = static_cast<int>(std::floor(b.y()));
        left_ = To16(ax);
        top_ = To16(ay);
        width_ = To16(bx - ax);
        height_ = To16(by - ay);
        for (QPointF &p : points_) {
            const QPointF q = toImage(p);
            p = QPointF(std::floor(q.x()), std::floor(q.y()));
        }
        imageTied_ = true;
    }

    double ROILength() const override
    {
        double rs = 1, cs = 1;
        spacing(rs, cs);
        auto seg = [&](QPointF p, QPointF q) {
            const double dx = (q.x() - p.x()) * cs, dy = (q.y() - p.y()) * rs;
            return std::sqrt(dx * dx + dy * dy);
        };
        if ((type_ == TypePolyline || type_ == TypePolygon) && points_.size() >= 2) {
            double sum = 0;
            for (std::size_t i = 1; i < points_.size(); ++i)
                sum += seg(points_[i - 1], points_[i]);
            if (type_ == TypePolygon)
                sum += seg(points_.back(), points_.front());
            return sum;
        }
        if (type_ == TypeEllipse) {
            const double a = std::fabs(width_) * cs / 2, b = std::fabs(height_) * rs / 2;
            return M_PI * (3 * (a + b) - std::sqrt((3 * a + b) * (a + 3 * b)));
        }
        if (type_ == TypeRectangle)
            return 2 * (std::fabs(width_) * cs + std::fabs(height_) * rs);
        return seg(QPointF(left_, top_), QPointF(left_ + width_, top_ + height_));
    }

    double ROIArea() const override
    {
        if (type_ != TypeEllipse && type_ != TypeRectangle && (type_ != TypePolygon || points_.size() < 3))
            return 0;
        double rs = 1, cs = 1;
        spacing(rs, cs);
        return static_cast<double>(statistics().count) * rs * cs;
    }

    double ROIMean() const override { return statistics().mean; }
    double ROIStandardDeviation() const override { return statistics().deviation; }

    QString ROIDistanceUnits() const override
    {
        double rs, cs;
        return spacing(rs, cs) ? QStringLiteral("mm") : QStringLiteral("pixels");
    }

    DicomLabelPtr Clone() const override
    {
        auto c = std::make_shared<LabelImpl>(*this);
        c->owner_.reset();
        return c;
    }

    std::weak_ptr<EntryState> owner_;

private:
    // Millimetres per pixel between rows and between columns; false (1, 1) without
    // Pixel Spacing. Imager Pixel Spacing is the detector's and is not used.
    bool spacing(double &rowSpacing, double &columnSpacing) const
    {
        rowSpacing = columnSpacing = 1;
        auto owner = owner_.lock();
        if (!owner || !imageTied_)
            return false;
        std::lock_guard lock(owner->shared->root->mutex);
        return PatientPixelSpacing(owner->shared->root->dataset(), rowSpacing, columnSpacing);
    }

    struct Statistics
    {
        std::size_t count = 0;
        double mean = 0, deviation = 0;
    };

    // What the last statistics were computed on: the same label geometry over the same
    // decoded frame gives the same answer, so ROIArea, ROIMean and ROIStandardDeviation
    // asked in a row walk the pixels once.
    struct StatisticsKey
    {
        std::weak_ptr<const Frame> frame;
        const Frame *framePointer = nullptr;
        int left = 0, top = 0, width = 0, height = 0, type = -1;
        bool useLut = false;
        std::vector<QPointF> points;
        bool matches(const FramePtr &f, const LabelImpl &l, bool lut) const
        {
            return framePointer == f.get() && !frame.expired() && left == l.left_ && top == l.top_
                   && width == l.width_ && height == l.height_ && type == l.type_ && useLut == lut
                   && points == l.points_;
        }
    };

    Statistics statistics() const
    {
        auto owner = owner_.lock();
        if (!owner || !owner->shared->pixels)
            throw DicomError(QStringLiteral("La mesure n'est posée sur aucune image."));
        PixelSource &src = *owner->shared->pixels;
        FramePtr f = src.frame(owner->frame);
        const bool useLut = owner->modalityLut != 0;
        if (cacheKey_.matches(f, *this, useLut))
            return cache_;
        const Statistics result = computeStatistics(src, *f, useLut);
        cacheKey_ = StatisticsKey{f, f.get(), left_, top_, width_, height_, type_, useLut, points_};
        cache_ = result;
        return result;
    }

    // The pixels counted are those whose centre (x + 0.5, y + 0.5) lies inside the shape
    // (on its border included) and inside the image; the mean and the population standard
    // deviation are over their modality values.
    Statistics computeStatistics(PixelSource &src, const Frame &f, bool useLut) const
    {
        auto value = [&](int x, int y) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) + static_cast<std::size_t>(x);
            if (f.colour) {
                const std::uint32_t c = f.rgb[i];
                return (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF)) / 3.0;
            }
            return src.rescale(f.value(i), useLut);
        };
        // One point: the value of the pixel under it.
        if (type_ != TypeEllipse && type_ != TypeRectangle && (type_ != TypePolygon || points_.size() < 3)) {
            QPointF p = points_.empty() ? QPointF(left_, top_) : points_.front();
            const int x = static_cast<int>(std::floor(p.x())), y = static_cast<int>(std::floor(p.y()));
            if (x < 0 || y < 0 || x >= f.width || y >= f.height)
                throw DicomError(QStringLiteral("Le point mesuré est hors de l'image."));
            return {1, value(x, y), 0.0};
        }
        double x0 = std::min<double>(left_, left_ + width_), x1 = std::max<double>(left_, left_ + width_);
        double y0 = std::min<double>(top_, top_ + height_), y1 = std::max<double>(top_, top_ + height_);
        if (type_ == TypePolygon) {
            x0 = y0 = std::numeric_limits<double>::max();
            x1 = y1 = std::numeric_limits<double>::lowest();
            for (const QPointF &p : points_) {
                x0 = std::min(x0, p.x()); x1 = std::max(x1, p.x());
                y0 = std::min(y0, p.y()); y1 = std::max(y1, p.y());
            }
        }
        const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, a = (x1 - x0) / 2, b = (y1 - y0) / 2;
        auto inside = [&](double px, double py) {
            switch (type_) {
            case TypeEllipse: {
                if (a <= 0 || b <= 0)
                    return false;
                const double u = (px - cx) / a, v = (py - cy) / b;
                return u * u + v * v <= 1.0;
            }
            case TypeRectangle:
                return px >= x0 && px <= x1 && py >= y0 && py <= y1;
            default: { // polygon, even-odd rule
                bool in = false;
                for (std::size_t i = 0, j = points_.size() - 1; i < points_.size(); j = i++) {
                    const QPointF &pi = points_[i], &pj = points_[j];
                    if ((pi.y() > py) != (pj.y() > py)
                        && px < (pj.x() - pi.x()) * (py - pi.y()) / (pj.y() - pi.y()) + pi.x())
                        in = !in;
                }
                return in;
            }
            }
        };
        const int ix0 = std::max(0, static_cast<int>(std::floor(x0))), ix1 = std::min(f.width - 1, static_cast<int>(std::ceil(x1)));
        const int iy0 = std::max(0, static_cast<int>(std::floor(y0))), iy1 = std::min(f.height - 1, static_cast<int>(std::ceil(y1)));

        // The run of pixels of row y inside the shape: for ellipses and rectangles one
        // interval, found from the shape's equation and then checked against the inside
        // rule itself at both ends, so that rounding never moves a border pixel.
        auto rowSpan = [&](int y, int &from, int &to) {
            from = ix0;
            to = ix1;
            if (type_ == TypeRectangle)
                return;
            const double py = y + 0.5;
            const double v = (py - cy) / b;
            const double rest = 1.0 - v * v;
            if (!(a > 0 && b > 0) || rest < 0) {
                from = ix0;
                to = ix0 - 1;
                return;
            }
            const double half = a * std::sqrt(rest);
            from = std::max(ix0, static_cast<int>(std::ceil(cx - half - 0.5)));
            to = std::min(ix1, static_cast<int>(std::floor(cx + half - 0.5)));
            while (from > ix0 && inside(from - 1 + 0.5, py))
                --from;
            while (from <= to && !inside(from + 0.5, py))
                ++from;
            while (to < ix1 && inside(to + 1 + 0.5, py))
                ++to;
            while (to >= from && !inside(to + 0.5, py))
                --to;
        };

        Statistics st;
        if (type_ != TypePolygon && !f.colour && !useLut
            && std::max<long long>(std::llabs(static_cast<long long>(f.minStored)), std::llabs(static_cast<long long>(f.maxStored))) < (std::int64_t(1) << 24)) {
            // A linear rescale of whole stored values: exact integer sums, rescaled once.
            std::int64_t s1 = 0;
            __int128 s2 = 0;
            std::size_t n = 0;
            for (int y = iy0; y <= iy1; ++y) {
                int from = ix0, to = ix1;
                rowSpan(y, from, to);
                if (from > to)
                    continue;
                const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width);
                std::int64_t r1 = 0, r2 = 0;
                auto sum = [&](const auto *row) {
                    for (int x = from; x <= to; ++x) {
                        const std::int64_t s = row[x];
                        r1 += s;
                        r2 += s * s;
                    }
                };
                if (f.narrow())
                    sum(f.mono16.data() + at);
                else
                    sum(f.mono.data() + at);
                s1 += r1;
                s2 += r2;
                n += static_cast<std::size_t>(to - from + 1);
            }
            if (n == 0)
                throw DicomError(QStringLiteral("La région mesurée ne contient aucun pixel de l'image."));
            const double slope = src.info().slope, intercept = src.info().intercept;
            const double dn = static_cast<double>(n);
            const __int128 spread = static_cast<__int128>(n) * s2 - static_cast<__int128>(s1) * s1;
            st.count = n;
            st.mean = slope * (static_cast<double>(s1) / dn) + intercept;
            st.deviation = std::fabs(slope) * std::sqrt(std::max(0.0, static_cast<double>(spread))) / dn;
            return st;
        }
        double mean = 0, m2 = 0;
        std::size_t n = 0;
        for (int y = iy0; y <= iy1; ++y) {
            int from = ix0, to = ix1;
            if (type_ != TypePolygon)
                rowSpan(y, from, to);
            for (int x = from; x <= to; ++x) {
                if (type_ == TypePolygon && !inside(x + 0.5, y + 0.5))
                    continue;
                const double v = value(x, y);
                ++n;
                const double d = v - mean;
                mean += d / static_cast<double>(n);
                m2 += d * (v - mean);
            }
        }
        if (n == 0)
            throw DicomError(QStringLiteral("La région mesurée ne contient aucun pixel de l'image."));
        st.count = n;
        st.mean = mean;
        st.deviation = std::sqrt(m2 / static_cast<double>(n));
        return st;
    }

    mutable StatisticsKey cacheKey_;
    mutable Statistics cache_;

    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int type_ = TypeText;
    QString text_;
    QString fontName_ = QStringLiteral("Arial");
    int fontSize_ = 12;
    int alignment_ = 0;
    int fore_ = 0xFFFFFF, back_ = 0;
    bool transparent_ = true;
    int lineWidth_ = 1, lineStyle_ = 0;
    bool xor_ = false, visible_ = true, autoSize_ = false;
    int selectMode_ = 0;
    bool imageTied_ = false, scaleWithCell_ = true, scaleFontSize_ = false, rotateText_ = false;
    bool wrapText_ = false;
    int shadow_ = 0;
    QVariant tag_;
    std::vector<QPointF> points_;
};

class LabelsImpl final : public DicomLabels
{
public:
    explicit LabelsImpl(std::weak_ptr<EntryState> owner) : owner_(std::move(owner)) {}
    const char *ClassName() const override { return kClassName; }
    int Count() const override { return static_cast<int>(items_.size()); }
    DicomLabelPtr Item(int index) const override
    {
        if (index < 1 || index > Count())
            return nullptr;
        return items_[static_cast<std::size_t>(index - 1)];
    }
    DicomLabelPtr AddNew() override
    {
        DicomLabelPtr l = CreateLabel();
        Add(l);
        return l;
    }
    void Add(const DicomLabelPtr &label) override
    {
        if (!label)
            return;
        if (!owner_.expired())
            SetLabelOwner(*label, owner_);
        items_.push_back(label);
    }
    void Remove(int index) override
    {
        if (index >= 1 && index <= Count())
            items_.erase(items_.begin() + (index - 1));
    }
    void Clear() override { items_.clear(); }
    int IndexOf(const DicomLabel *label) const override
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == label)
                return static_cast<int>(i) + 1;
        return 0;
    }

private:
    std::weak_ptr<EntryState> owner_;
    std::vector<DicomLabelPtr> items_;
};

} // namespace

DicomLabelsPtr MakeLabels(std::weak_ptr<EntryState> owner)
{
    return std::make_shared<LabelsImpl>(std::move(owner));
}

void SetLabelOwner(DicomLabel &label, std::weak_ptr<EntryState> owner)
{
    if (auto *impl = dynamic_cast<LabelImpl *>(&label))
        impl->owner_ = std::move(owner);
}

ComponentObject *NewLabelObject()
{
    return new LabelImpl();
}

ComponentObject *NewLabelsObject()
{
    return new LabelsImpl(std::weak_ptr<EntryState>());
}

} // namespace imaging::detail

namespace imaging {

DicomLabelPtr CreateLabel()
{
    return std::make_shared<detail::LabelImpl>();
}

DicomLabelsPtr CreateLabels()
{
    return detail::MakeLabels(std::weak_ptr<detail::EntryState>());
}

} // namespace imaging
