// libFuzzer target: any bytes as a DICOM file, read as an image (then every reading the
// viewer does: attributes, frames, windowing, measurements) and as a catalogue.

#include "imaging/imaging.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <unistd.h>

namespace {

QString TempPath()
{
    static const QString path = QStringLiteral("/tmp/korvane_imaging_fuzz_%1.dcm").arg(getpid());
    return path;
}

void Walk(const imaging::DicomAttributesPtr &attrs, int depth)
{
    if (!attrs || depth > 6)
        return;
    for (int i = 1; i <= attrs->Count() && i <= 500; ++i) {
        auto a = attrs->ItemByIndex(i);
        if (!a)
            continue;
        (void)a->Description();
        (void)a->Text();
        (void)a->ValueByIndex(a->VM() + 1);
        const QVariant v = a->Value();
        if (v.userType() == qMetaTypeId<imaging::DicomDataSetsPtr>()) {
            auto items = v.value<imaging::DicomDataSetsPtr>();
            for (int k = 1; items && k <= items->Count() && k <= 20; ++k)
                Walk(items->Item(k)->Attributes(), depth + 1);
        }
    }
}

void Exercise(const imaging::DicomImagePtr &img)
{
    Walk(img->Attributes(), 0);
    (void)img->Name();
    (void)img->DateOfBirthAsDate();
    const int frames = img->FrameCount();
    for (int f : {1, 2, frames}) {
        img->SetFrame(f);
        try {
            (void)img->Width();
            (void)img->MaximumPixelValue();
            (void)img->MinimumPixelValue();
            (void)img->DisplayFrame();
            (void)img->PixelValue(img->SizeX() / 2, img->SizeY() / 2);
            auto e = img->Labels()->AddNew();
            e->SetLabelType(imaging::DicomLabel::TypeEllipse);
            e->SetImageTied(true);
            e->SetWidth(img->SizeX());
            e->SetHeight(img->SizeY());
            (void)e->ROIMean();
            (void)e->ROIStandardDeviation();
            (void)e->ROILength();
            (void)e->ROIArea();
        } catch (const imaging::DicomError &) {
        }
    }
    (void)img->EdgeOrientation("Top");
    (void)img->ReferenceLine(*img, true);
}

void Catalogue(const imaging::DicomDataSetPtr &ds, int depth)
{
    if (!ds || depth > 6)
        return;
    (void)ds->PatientID();
    (void)ds->Name();
    auto attrs = ds->Attributes();
    auto icon = attrs->Item(0x0088, 0x0200);
    if (icon->Exists()) {
        auto items = icon->Value().value<imaging::DicomDataSetsPtr>();
        if (items && items->Count() > 0) {
            try {
                auto img = items->Item(1)->MakeImage();
                (void)img->DisplayFrame();
            } catch (const imaging::DicomError &) {
            }
        }
    }
    auto kids = ds->Children();
    for (int i = 1; i <= kids->Count() && i <= 200; ++i)
        Catalogue(kids->Item(i), depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    imaging::SetFrameCacheBudget(64 * 1024 * 1024);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile f(TempPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    try {
        auto images = imaging::CreateImages();
        auto img = images->ReadFile(TempPath());
        Exercise(img);
        Exercise(images->Add(img)); // a second entry sharing the pixels
    } catch (const imaging::DicomError &) {
    }
    try {
        auto root = imaging::CreateDataSets()->ReadDirectory(TempPath());
        Catalogue(root, 0);
    } catch (const imaging::DicomError &) {
    }
    return 0;
}
