#pragma once
// Synthetic images with known pixels for the control's tests and benchmarks, built in
// memory through the component's public interface (a data set, then MakeImage).

#include "imaging/imaging.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <utility>
#include <vector>

namespace viewerlight_test {

struct ExtraAttribute
{
    int group;
    int element;
    QVariant value;
    QString vr;
};

// A 16-bit unsigned MONOCHROME2 image of `columns` x `rows` and `frames` frames whose
// stored value at (x, y) of frame f (from 1) is value(x, y, f). Window centre/width are
// written when width > 0.
inline imaging::DicomImagePtr MakeMonoImage(int columns, int rows,
                                            const std::function<int(int, int, int)> &value,
                                            int frames = 1, double windowCentre = 0,
                                            double windowWidth = 0,
                                            const std::vector<ExtraAttribute> &extra = {})
{
    const imaging::DicomDataSetPtr dataSet = imaging::CreateDataSet();
    const imaging::DicomAttributesPtr a = dataSet->Attributes();
    a->Add(0x0008, 0x0016, QStringLiteral("1.2.840.10008.5.1.4.1.1.7"), QStringLiteral("UI"));
    a->Add(0x0008, 0x0018, QStringLiteral("1.2.826.0.1.3680043.9.7433.1.%1").arg(quintptr(dataSet.get())),
           QStringLiteral("UI"));
    a->Add(0x0008, 0x0060, QStringLiteral("OT"), QStringLiteral("CS"));
    a->Add(0x0010, 0x0010, QStringLiteral("TEST^VIEWER"), QStringLiteral("PN"));
    a->Add(0x0010, 0x0020, QStringLiteral("VL001"), QStringLiteral("LO"));
    a->Add(0x0020, 0x000D, QStringLiteral("1.2.826.0.1.3680043.9.7433.2"), QStringLiteral("UI"));
    a->Add(0x0020, 0x000E, QStringLiteral("1.2.826.0.1.3680043.9.7433.3"), QStringLiteral("UI"));
    a->Add(0x0028, 0x0002, 1, QStringLiteral("US"));
    a->Add(0x0028, 0x0004, QStringLiteral("MONOCHROME2"), QStringLiteral("CS"));
    a->Add(0x0028, 0x0010, rows, QStringLiteral("US"));
    a->Add(0x0028, 0x0011, columns, QStringLiteral("US"));
    a->Add(0x0028, 0x0100, 16, QStringLiteral("US"));
    a->Add(0x0028, 0x0101, 16, QStringLiteral("US"));
    a->Add(0x0028, 0x0102, 15, QStringLiteral("US"));
    a->Add(0x0028, 0x0103, 0, QStringLiteral("US"));
    if (frames > 1)
        a->Add(0x0028, 0x0008, QString::number(frames), QStringLiteral("IS"));
    if (windowWidth > 0) {
        a->Add(0x0028, 0x1050, windowCentre, QStringLiteral("DS"));
        a->Add(0x0028, 0x1051, windowWidth, QStringLiteral("DS"));
    }
    for (const ExtraAttribute &e : extra)
        a->Add(e.group, e.element, e.value, e.vr);
    QByteArray pixels;
    pixels.resize(qsizetype(columns) * rows * frames * 2);
    char *out = pixels.data();
    for (int f = 1; f <= frames; ++f)
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x) {
                const int v = value(x, y, f);
                *out++ = char(v & 0xFF);
                *out++ = char((v >> 8) & 0xFF);
            }
    a->Add(0x7FE0, 0x0010, pixels, QStringLiteral("OW"));
    return dataSet->MakeImage();
}

// Geometry attributes of an axial slice (rows along +x, columns along +y).
inline std::vector<ExtraAttribute> AxialGeometry(double spacing = 0.5)
{
    return {
        {0x0020, 0x0037, QVariantList{1.0, 0.0, 0.0, 0.0, 1.0, 0.0}, QStringLiteral("DS")},
        {0x0020, 0x0032, QVariantList{-128.0, -128.0, -40.0}, QStringLiteral("DS")},
        {0x0028, 0x0030, QVariantList{spacing, spacing}, QStringLiteral("DS")},
    };
}

} // namespace viewerlight_test
