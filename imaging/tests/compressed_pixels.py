"""Independent decoding of whole series for the imaging tests.

Usage: compressed_pixels.py FILE...
Prints one line per FILE: the SHA-256 (hex) of each frame's modality-rescaled values,
written as little-endian 32-bit integers, separated by commas; or "nodecoder" when
pydicom has no decoder here for the file's transfer syntax, or "error: ..." when the
file cannot be read.
"""
import hashlib
import sys
import warnings

import numpy as np
import pydicom
from pydicom.pixel_data_handlers.util import apply_modality_lut

warnings.simplefilter("ignore")


def frame_hashes(path):
    ds = pydicom.dcmread(path)
    try:
        arr = ds.pixel_array
    except (NotImplementedError, RuntimeError):
        return "nodecoder"
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    if frames == 1:
        arr = arr[np.newaxis, ...]
    out = []
    for f in range(frames):
        values = np.asarray(apply_modality_lut(arr[f], ds))
        exact = np.rint(values)
        if not np.array_equal(exact, values):
            return "error: rescaled values are not integers"
        out.append(hashlib.sha256(exact.astype("<i4").tobytes()).hexdigest())
    return ",".join(out)


def main():
    for path in sys.argv[1:]:
        try:
            line = frame_hashes(path)
        except Exception as e:  # noqa: BLE001
            line = "error: " + str(e)[:200].replace("\n", " ")
        print(line, flush=True)


main()
