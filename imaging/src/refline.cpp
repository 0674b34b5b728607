// Reference lines: where another image's plane cuts an image.

#include "internal.h"

#include "imaging/pixelspacing.h"

#include <array>
#include <cmath>

namespace imaging::detail {

namespace {

using Vec = std::array<double, 3>;

Vec Sub(const Vec &a, const Vec &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot(const Vec &a, const Vec &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Cross(const Vec &a, const Vec &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// An image plane: the centre of pixel (0, 0), unit row and column directions, the
// spacing between columns (along a row) and between rows, and the size.
struct Plane
{
    Vec origin, row, col;
    double colSpacing = 0, rowSpacing = 0;
    int cols = 0, rows = 0;
};

bool ReadPlane(const DicomImage &image, Plane &p)
{
    auto attrs = image.Attributes();
    auto number = [&](int g, int e, int index, double &out) {
        auto a = attrs->Item(g, e);
        if (!a || !a->Exists())
            return false;
        bool ok = false;
        out = a->ValueByIndex(index).toDouble(&ok);
        return ok && std::isfinite(out);
    };
    for (int i = 0; i < 3; ++i) {
        if (!number(0x0020, 0x0032, i + 1, p.origin[static_cast<size_t>(i)])
            || !number(0x0020, 0x0037, i + 1, p.row[static_cast<size_t>(i)])
            || !number(0x0020, 0x0037, i + 4, p.col[static_cast<size_t>(i)]))
            return false;
    }
    if (!PixelSpacing(*attrs, p.rowSpacing, p.colSpacing))
        return false;
    p.cols = image.SizeX();
    p.rows = image.SizeY();
    const double rn = std::sqrt(Dot(p.row, p.row)), cn = std::sqrt(Dot(p.col, p.col));
    if (p.cols <= 0 || p.rows <= 0 || rn < 1e-6 || cn < 1e-6)
        return false;
    for (int i = 0; i < 3; ++i) {
        p.row[static_cast<size_t>(i)] /= rn;
        p.col[static_cast<size_t>(i)] /= cn;
    }
    return true;
}

// Keeps the part t in [t0, t1] where a + b t lies in [lo, hi]; false when empty.
bool Clip(double a, double b, double lo, double hi, double &t0, double &t1)
{
    if (std::fabs(b) < 1e-12)
        return a >= lo && a <= hi;
    double ta = (lo - a) / b, tb = (hi - a) / b;
    if (ta > tb)
        std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    return t0 <= t1;
}

} // namespace

DicomLabelPtr ReferenceLineBetween(const DicomImage &target, const DicomImage &other, bool intersection)
{
    Plane t, o;
    if (!ReadPlane(target, t) || !ReadPlane(other, o))
        return nullptr;
    const Vec n = Cross(o.row, o.col);
    // Points of the target in continuous image coordinates (u, v): the centre of pixel
    // (i, j) is (i + 0.5, j + 0.5).
    auto patient = [&](double u, double v) {
        Vec p;
        for (size_t k = 0; k < 3; ++k)
            p[k] = t.origin[k] + (u - 0.5) * t.colSpacing * t.row[k] + (v - 0.5) * t.rowSpacing * t.col[k];
        return p;
    };
    // The other plane: n . (P(u, v) - o.origin) = 0  ->  a u + b v + c = 0.
    const double a = t.colSpacing * Dot(n, t.row);
    const double b = t.rowSpacing * Dot(n, t.col);
    const double c = Dot(n, Sub(patient(0, 0), o.origin));
    const double norm = std::sqrt(a * a + b * b);
    if (norm < 1e-6 * std::max(t.colSpacing, t.rowSpacing))
        return nullptr; // parallel planes
    // Parametrise the line: a point on it plus t along its direction (-b, a) / norm.
    const double u0 = -a * c / (norm * norm), v0 = -b * c / (norm * norm);
    const double du = -b / norm, dv = a / norm;
    double t0 = -1e9, t1 = 1e9;
    if (!Clip(u0, du, 0, t.cols, t0, t1) || !Clip(v0, dv, 0, t.rows, t0, t1))
        return nullptr;
    if (intersection) {
        // Coordinates of the line's points in the other image, kept inside its extent.
        auto otherCoord = [&](double u, double v, double &ou, double &ov) {
            const Vec d = Sub(patient(u, v), o.origin);
            ou = Dot(d, o.row) / o.colSpacing + 0.5;
            ov = Dot(d, o.col) / o.rowSpacing + 0.5;
        };
        double ou0, ov0, ou1, ov1;
        otherCoord(u0, v0, ou0, ov0);
        otherCoord(u0 + du, v0 + dv, ou1, ov1);
        if (!Clip(ou0, ou1 - ou0, 0, o.cols, t0, t1) || !Clip(ov0, ov1 - ov0, 0, o.rows, t0, t1))
            return nullptr;
    }
    const double x0 = u0 + du * t0, y0 = v0 + dv * t0, x1 = u0 + du * t1, y1 = v0 + dv * t1;
    DicomLabelPtr line = CreateLabel();
    line->SetLabelType(DicomLabel::TypeLine);
    line->SetImageTied(true);
    line->SetScaleWithCell(false);
    const int l = static_cast<int>(std::lround(x0)), tp = static_cast<int>(std::lround(y0));
    line->SetLeft(l);
    line->SetTop(tp);
    line->SetWidth(static_cast<int>(std::lround(x1)) - l);
    line->SetHeight(static_cast<int>(std::lround(y1)) - tp);
    return line;
}

} // namespace imaging::detail
