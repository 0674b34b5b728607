#!/usr/bin/python3
"""Independent read-back of a generated visit with pydicom.

Checks the catalogue against manifest.json: counts, referenced files, geometry,
echo times, frames, accents and the phantom's known values. Prints one line per
problem and "ok" at the end when there is none; exits 1 on any problem.
"""
import json
import math
import os
import sys

import pydicom

root = sys.argv[1]
manifest = json.load(open(os.path.join(root, "manifest.json"), encoding="utf-8"))
problems = []


def expect(cond, text):
    if not cond:
        problems.append(text)


def image_value(ds, x, y, z):
    """Rescaled value of the pixel nearest to patient point (x, y, z), or None."""
    ipp = [float(v) for v in ds.ImagePositionPatient]
    iop = [float(v) for v in ds.ImageOrientationPatient]
    rs, cs = (float(v) for v in ds.PixelSpacing)
    d = [x - ipp[0], y - ipp[1], z - ipp[2]]
    col = sum(d[i] * iop[i] for i in range(3)) / cs
    row = sum(d[i] * iop[3 + i] for i in range(3)) / rs
    c, r = int(round(col)), int(round(row))
    if not (0 <= r < ds.Rows and 0 <= c < ds.Columns):
        return None
    return float(ds.pixel_array[r, c]) * float(getattr(ds, "RescaleSlope", 1)) + float(
        getattr(ds, "RescaleIntercept", 0))


for cat in manifest["catalogues"]:
    dd = pydicom.dcmread(os.path.join(root, cat["name"]))
    records = dd.DirectoryRecordSequence
    kinds = [r.DirectoryRecordType for r in records]
    patients = cat["patients"]
    n_images = sum(len(se["images"]) for p in patients for st in p["studies"] for se in st["series"])
    n_series = sum(len(st["series"]) for p in patients for st in p["studies"])
    expect(kinds.count("PATIENT") == len(patients), f"{cat['name']}: patient records {kinds.count('PATIENT')}")
    expect(kinds.count("SERIES") == n_series, f"{cat['name']}: series records {kinds.count('SERIES')} != {n_series}")
    expect(kinds.count("IMAGE") == n_images, f"{cat['name']}: image records {kinds.count('IMAGE')} != {n_images}")
    names = {str(r.PatientName) for r in records if r.DirectoryRecordType == "PATIENT"}
    for p in patients:
        expect(p["name"] in names, f"patient name {p['name']!r} not in catalogue ({names})")
    for r in records:
        if r.DirectoryRecordType == "IMAGE":
            path = os.path.join(root, *r.ReferencedFileID)
            expect(os.path.isfile(path), f"missing file {path}")
            expect("IconImageSequence" in r, f"no icon for {path}")

    for p in patients:
        for st in p["studies"]:
            for se in st["series"]:
                for im in se["images"]:
                    ds = pydicom.dcmread(os.path.join(root, im["file"]))
                    expect(str(ds.PatientName) == p["name"], f"{im['file']}: name {ds.PatientName!r}")
                    expect(ds.SpecificCharacterSet == "ISO_IR 100", f"{im['file']}: charset")
                    expect(ds.SOPInstanceUID == im["instanceUID"], f"{im['file']}: instance UID")
                    expect(ds.StudyInstanceUID == st["uid"], f"{im['file']}: study UID")
                    expect(ds.SeriesInstanceUID == se["uid"], f"{im['file']}: series UID")
                    expect(("SeriesNumber" in ds) == (se["number"] >= 0), f"{im['file']}: series number presence")
                    expect(int(getattr(ds, "NumberOfFrames", 1)) == im["frames"], f"{im['file']}: frames")
                    arr = ds.pixel_array
                    expect(arr.shape[-2:] == (im["rows"], im["columns"]) or arr.shape[-3:-1] == (im["rows"], im["columns"]),
                           f"{im['file']}: shape {arr.shape}")
                    if "echoTime" in im:
                        expect(float(ds.EchoTime) == im["echoTime"], f"{im['file']}: echo time {ds.EchoTime}")
                    if "position" in im:
                        expect([float(v) for v in ds.ImagePositionPatient] == im["position"], f"{im['file']}: position")
                    if ds.SOPClassUID == "1.2.840.10008.5.1.4.1.1.2" and "position" in im:
                        iop = [float(v) for v in ds.ImageOrientationPatient]
                        if iop == [1, 0, 0, 0, 1, 0]:
                            z = float(ds.ImagePositionPatient[2])
                            if -200 <= z <= 120:
                                for rod in manifest["rods"]:
                                    v = image_value(ds, rod["x"], rod["y"], z)
                                    if v is not None and abs(z - (-40)) > 35:
                                        expect(v == rod["hu"], f"{im['file']}: rod {rod['name']} reads {v}, not {rod['hu']}")
                    if "comment" in im:
                        val = ds[0x0009, 0x0003].value
                        if isinstance(val, bytes):
                            val = val.decode("latin-1")
                        expect(val == im["comment"], f"{im['file']}: comment {val!r}")
                        expect(se["uid"].startswith(manifest["productUidRoot"]), "comment image not under product root")

for p in problems:
    print(p)
print("ok" if not problems else f"{len(problems)} problem(s)")
sys.exit(1 if problems else 0)
