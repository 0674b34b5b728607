#!/usr/bin/python3
"""Lists a DICOM file's data set the way the "Data DICOM" page does, with pydicom:
every element in tag order, each sequence followed by its items' elements, item by
item, with the number of the nearest item (0 at the top level). One JSON object per
line: group, element, vr, item, values (a list of texts; "Sequence of n items" for a
sequence, [] for pixel data, ["Null"] for an empty value, bytes as hexadecimal)."""

import json
import sys

import pydicom
from pydicom.valuerep import PersonName


def text(value):
    if isinstance(value, (bytes, bytearray)):
        shown = " ".join("%02X" % b for b in value[:32])
        return shown + (" ..." if len(value) > 32 else "")
    if isinstance(value, PersonName):
        return str(value)
    if isinstance(value, pydicom.tag.BaseTag):
        return "(%04X,%04X)" % (value.group, value.element)
    return str(value)


def values(elem):
    if elem.tag.group == 0x7FE0:
        return []
    if elem.VR == "SQ":
        return ["Sequence of %d items" % len(elem.value)]
    value = elem.value
    if value is None or (not isinstance(value, (list, pydicom.multival.MultiValue)) and text(value) == ""):
        return ["Null"]
    if isinstance(value, pydicom.multival.MultiValue) or isinstance(value, list):
        if len(value) == 0:
            return ["Null"]
        return [text(v) for v in value]
    if elem.VR == "AT" and isinstance(value, int):
        return ["(%04X,%04X)" % (value >> 16, value & 0xFFFF)]
    return [text(value)]


def walk(dataset, item, out):
    for elem in dataset:
        out.append({"group": elem.tag.group, "element": elem.tag.element, "vr": elem.VR,
                    "item": item, "values": values(elem)})
        if elem.VR == "SQ":
            for n, child in enumerate(elem.value, start=1):
                walk(child, n, out)


def main():
    ds = pydicom.dcmread(sys.argv[1], force=True)
    out = []
    walk(ds, 0, out)
    for row in out:
        print(json.dumps(row, ensure_ascii=False))


if __name__ == "__main__":
    main()
