"""Independent region statistics for the imaging tests.

Usage: roi_expected.py FILE LEFT TOP WIDTH HEIGHT
Reads FILE with pydicom, applies the modality rescale to its first frame with numpy and
prints, as JSON, the number of pixels whose centre (x + 0.5, y + 0.5) lies inside the
ellipse drawn from (LEFT, TOP) to (LEFT + WIDTH, TOP + HEIGHT) in image pixels (border
included, pixels off the image left out), their area (count x row spacing x column
spacing, or 1 without Pixel Spacing), mean and population standard deviation.
"""
import json
import sys

import numpy as np
import pydicom
from pydicom.pixel_data_handlers.util import apply_modality_lut


def main():
    path = sys.argv[1]
    left, top, width, height = (float(v) for v in sys.argv[2:6])
    ds = pydicom.dcmread(path)
    values = apply_modality_lut(ds.pixel_array, ds).astype(np.float64)
    if values.ndim == 3:
        values = values[0]
    rows, cols = values.shape
    x0, x1 = min(left, left + width), max(left, left + width)
    y0, y1 = min(top, top + height), max(top, top + height)
    cx, cy, a, b = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2
    ys, xs = np.mgrid[0:rows, 0:cols]
    u = (xs + 0.5 - cx) / a
    v = (ys + 0.5 - cy) / b
    inside = u * u + v * v <= 1.0
    picked = values[inside]
    spacing = [float(s) for s in ds.get("PixelSpacing", [1, 1])]
    if len(spacing) != 2 or min(spacing) <= 0:
        spacing = [1.0, 1.0]
    print(json.dumps({
        "count": int(picked.size),
        "area": float(picked.size * spacing[0] * spacing[1]),
        "mean": float(picked.mean()),
        "sd": float(picked.std()),
    }))


if __name__ == "__main__":
    main()
