#!/usr/bin/python3
"""Where the plane of one DICOM image cuts another, computed independently with numpy.

usage: refline_expected.py TARGET OTHER
prints "x0 y0 x1 y1": the end points, in TARGET's continuous pixel coordinates (the centre
of pixel (col, row) is (col + 0.5, row + 0.5)), of the part of the intersection line that
lies inside both images; prints "none" when the planes are parallel or the line misses.
"""
import sys

import numpy as np
import pydicom


def plane(path):
    ds = pydicom.dcmread(path, stop_before_pixels=True)
    o = np.array([float(v) for v in ds.ImagePositionPatient])
    iop = [float(v) for v in ds.ImageOrientationPatient]
    r, c = np.array(iop[:3]), np.array(iop[3:])
    r, c = r / np.linalg.norm(r), c / np.linalg.norm(c)
    row_spacing, col_spacing = (float(v) for v in ds.PixelSpacing)
    # Continuous pixel coordinates (u, v) -> patient: origin is the centre of pixel (0, 0).
    m = np.column_stack([r * col_spacing, c * row_spacing])
    corner = o - 0.5 * (r * col_spacing + c * row_spacing)
    return corner, m, np.cross(r, c), int(ds.Columns), int(ds.Rows)


def to_pixels(p, corner, m):
    uv, *_ = np.linalg.lstsq(m, p - corner, rcond=None)
    return uv


def clip(p0, d, cols, rows, t0, t1):
    for k, hi in ((0, cols), (1, rows)):
        if abs(d[k]) < 1e-12:
            if not 0 <= p0[k] <= hi:
                return None
            continue
        ta, tb = sorted(((0 - p0[k]) / d[k], (hi - p0[k]) / d[k]))
        t0, t1 = max(t0, ta), min(t1, tb)
    return (t0, t1) if t0 <= t1 else None


def main():
    tc, tm, tn, tcols, trows = plane(sys.argv[1])
    oc, om, on, ocols, orows = plane(sys.argv[2])
    direction = np.cross(tn, on)
    if np.linalg.norm(direction) < 1e-9:
        print("none")
        return
    # A point on both planes: the least-norm solution of the two plane equations, taken
    # near the target's corner.
    a = np.vstack([tn, on])
    b = np.array([tn @ tc, on @ oc])
    point, *_ = np.linalg.lstsq(a, b - a @ tc, rcond=None)
    point = point + tc
    # The line in the target's and in the other image's pixel coordinates.
    p_t, d_t = to_pixels(point, tc, tm), to_pixels(point + direction, tc, tm) - to_pixels(point, tc, tm)
    p_o, d_o = to_pixels(point, oc, om), to_pixels(point + direction, oc, om) - to_pixels(point, oc, om)
    span = clip(p_t, d_t, tcols, trows, -1e9, 1e9)
    span = span and clip(p_o, d_o, ocols, orows, *span)
    if not span:
        print("none")
        return
    e0, e1 = p_t + span[0] * d_t, p_t + span[1] * d_t
    print("%.4f %.4f %.4f %.4f" % (e0[0], e0[1], e1[0], e1[1]))


main()
