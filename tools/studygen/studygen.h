#pragma once
// Deterministic generator of synthetic visits: DICOM files laid out like a
// patient CD, a DICOMDIR catalogue per visit, a reports file, and a
// manifest.json describing everything written (for tests).

#include "common/productuid.h"

#include <QString>
#include <QStringList>

namespace studygen {

// UID root of the product's own objects (key images and the visit comment).
inline constexpr const char *kProductUidRoot = common::kProductUidRoot;

struct Options
{
    QString outDir;
    // demo | ct-large | ct-noise (ct-large with the noise of a real scanner, 200 slices by
    // default) | mixed | nonsquare | cine (one 20-frame angiography run)
    QString preset = QStringLiteral("demo");
    int images = -1;                         // axial CT slices; -1: the preset's own
    unsigned seed = 1;
    // Transfer syntax of the image files: empty (explicit VR little endian), "jpeg2000"
    // (JPEG 2000 lossless), "jpegls" (JPEG-LS lossless), "jpeg14" (JPEG lossless,
    // process 14, selection value 1) or "rle". All of them are lossless.
    QString syntax;
};

// Writes the visit(s) of the preset into options.outDir. Returns false and
// sets *error when anything cannot be written.
bool generate(const Options &options, QString *error);

// The transfer syntax names Options::syntax accepts.
QStringList syntaxes();

// Reads back every catalogue of a folder and prints its patients, studies,
// series and images, checking that each referenced file exists. Returns the
// number of problems found (0: all well), or -1 when no catalogue was read.
int summarize(const QString &folder, QStringList *lines);

} // namespace studygen
