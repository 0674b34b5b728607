"""Independent reading of DICOM files for the imaging tests.

Usage: pydicom_pixels.py OUTDIR FILE...
For each FILE writes OUTDIR/<n>.json (attributes and pixel description) and, when
pydicom can decode the pixels, OUTDIR/<n>.raw: the first frame as little-endian
float64 values, modality-rescaled for monochrome images, 8-bit RGB (as the viewer
shows colour: samples shifted down to 8 bits, YBR converted) for colour images.
"""
import json
import os
import sys
import warnings

import numpy as np
import pydicom
from pydicom.pixel_data_handlers.util import apply_modality_lut, convert_color_space

warnings.simplefilter("ignore")


def text(ds, tag):
    el = ds.get(tag)
    if el is None or el.value is None:
        return None
    v = el.value
    if isinstance(v, (list, pydicom.multival.MultiValue)):
        return "\\".join(str(x) for x in v)
    return str(v)


def main():
    out = sys.argv[1]
    for n, path in enumerate(sys.argv[2:]):
        info = {"file": path}
        try:
            ds = pydicom.dcmread(path, force=True)
        except Exception as e:  # noqa: BLE001
            info["error"] = str(e)
            json.dump(info, open(os.path.join(out, f"{n}.json"), "w"))
            continue
        for key, tag in [("patientName", 0x00100010), ("patientID", 0x00100020),
                         ("studyUID", 0x0020000D), ("seriesUID", 0x0020000E),
                         ("sopClass", 0x00080016), ("modality", 0x00080060),
                         ("studyDate", 0x00080020)]:
            info[key] = text(ds, tag)
        info["count"] = len(ds)
        if "PixelData" in ds:
            info["rows"] = int(ds.Rows)
            info["cols"] = int(ds.Columns)
            info["frames"] = int(ds.get("NumberOfFrames", 1) or 1)
            info["photometric"] = str(ds.get("PhotometricInterpretation", ""))
            try:
                arr = ds.pixel_array
                if info["frames"] > 1:
                    arr = arr[0]
                spp = int(ds.get("SamplesPerPixel", 1))
                if spp == 1 and not info["photometric"].startswith("PALETTE"):
                    vals = apply_modality_lut(arr, ds).astype(np.float64)
                else:
                    if info["photometric"].startswith("YBR_FULL") and arr.dtype == np.uint8:
                        # pydicom hands YBR pixels over unconverted.
                        arr = convert_color_space(arr, "YBR_FULL", "RGB")
                    shift = max(0, int(ds.BitsStored) - 8)
                    vals = np.clip(arr.astype(np.int64) >> shift, 0, 255).astype(np.float64)
                vals.astype("<f8").tofile(os.path.join(out, f"{n}.raw"))
                info["decoded"] = True
            except Exception as e:  # noqa: BLE001
                info["decoded"] = False
                info["decodeError"] = str(e)[:200]
        json.dump(info, open(os.path.join(out, f"{n}.json"), "w"))


main()
