#pragma once
// The one reading of an image's pixel spacing: the field of view of the corner texts,
// the rulers, the lengths and areas of measurements and the reference lines all take
// it from here, so they never disagree on whether an image has a size in millimetres.

#include "imaging/imaging.h"

#include <QLocale>

#include <cmath>

namespace imaging {

namespace spacing_detail {

inline bool PositiveNumber(const QVariant &value, double &number)
{
    bool ok = false;
    double d = 0;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        d = value.toDouble(&ok);
        break;
    case QMetaType::QString:
        d = QLocale::c().toDouble(value.toString().trimmed(), &ok);
        break;
    default:
        return false;
    }
    if (!ok || !std::isfinite(d) || d <= 0)
        return false;
    number = d;
    return true;
}

inline bool SpacingValues(const DicomAttributes &attributes, double &rowSpacing, double &columnSpacing)
{
    const DicomAttributePtr spacing = attributes.Item(0x0028, 0x0030);
    double row = 0, column = 0;
    if (!spacing || !spacing->Exists() || !PositiveNumber(spacing->ValueByIndex(1), row)
        || !PositiveNumber(spacing->ValueByIndex(2), column))
        return false;
    rowSpacing = row;
    columnSpacing = column;
    return true;
}

// The first item of a sequence attribute, or null.
inline DicomDataSetPtr FirstItem(const DicomAttributes &attributes, int group, int element)
{
    const DicomAttributePtr sequence = attributes.Item(group, element);
    if (!sequence || !sequence->Exists())
        return nullptr;
    const auto items = sequence->Value().value<DicomDataSetsPtr>();
    return items && items->Count() >= 1 ? items->Item(1) : nullptr;
}

} // namespace spacing_detail

// Pixel Spacing of a data set in millimetres: between the centres of adjacent rows
// (value 1) and of adjacent columns (value 2), from (0028,0030), or for enhanced
// multi-frame images from the Pixel Measures (0028,9110) of their Shared Functional
// Groups (5200,9229). A spacing that is not two positive numbers counts as absent: the
// answer is false, and the image then shows no field of view and no ruler and is
// measured in pixels. Imager Pixel Spacing (0018,1164) is the detector's and is not used.
inline bool PixelSpacing(const DicomAttributes &attributes, double &rowSpacing, double &columnSpacing)
{
    if (spacing_detail::SpacingValues(attributes, rowSpacing, columnSpacing))
        return true;
    const DicomDataSetPtr shared = spacing_detail::FirstItem(attributes, 0x5200, 0x9229);
    const DicomAttributesPtr sharedAttributes = shared ? shared->Attributes() : nullptr;
    const DicomDataSetPtr measures =
        sharedAttributes ? spacing_detail::FirstItem(*sharedAttributes, 0x0028, 0x9110) : nullptr;
    const DicomAttributesPtr measureAttributes = measures ? measures->Attributes() : nullptr;
    return measureAttributes && spacing_detail::SpacingValues(*measureAttributes, rowSpacing, columnSpacing);
}

// The shape of one pixel, height over width, that every geometric value uses: the image
// on screen, the angles of measurements and the lengths of angle legs. From Pixel
// Spacing (as above), else Imager Pixel Spacing (0018,1164, radiographs), else Pixel
// Aspect Ratio (0028,0034, vertical then horizontal). 1 when none gives two positive
// values, when the ratio is so extreme (beyond 1:20) that it can only be a damaged value,
// or when it differs from 1 only in the last digits written.
inline double PixelAspect(const DicomAttributes &attributes)
{
    double vertical = 0, horizontal = 0;
    bool found = PixelSpacing(attributes, vertical, horizontal);
    if (!found) {
        const DicomAttributePtr imager = attributes.Item(0x0018, 0x1164);
        found = imager && imager->Exists() && spacing_detail::PositiveNumber(imager->ValueByIndex(1), vertical)
                && spacing_detail::PositiveNumber(imager->ValueByIndex(2), horizontal);
    }
    if (!found) {
        const DicomAttributePtr ratio = attributes.Item(0x0028, 0x0034);
        found = ratio && ratio->Exists() && spacing_detail::PositiveNumber(ratio->ValueByIndex(1), vertical)
                && spacing_detail::PositiveNumber(ratio->ValueByIndex(2), horizontal);
    }
    if (!found)
        return 1.0;
    const double aspect = vertical / horizontal;
    if (!std::isfinite(aspect) || aspect < 0.05 || aspect > 20)
        return 1.0;
    if (std::fabs(aspect - 1.0) < 1e-3)
        return 1.0;
    return aspect;
}

} // namespace imaging
