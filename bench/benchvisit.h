// The generated demo visit, laid out in a folder and loaded into the viewer's VisitData(), for the benchmarks that
// measure the viewer on a real visit (its first patient: the CT series, the MR, the XA run, the captures).
#pragma once

#include "tools/studygen/studygen.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"

#include <QString>

#include <cstdio>

namespace bench {

// Lays out a generated visit (`preset`, `images` for the large CT preset) and loads the patient `patientId`.
inline bool LoadGeneratedVisit(const QString &folder, const QString &preset, int images, const QString &patientId)
{
    studygen::Options options;
    options.outDir = folder;
    options.preset = preset;
    if (images > 0)
        options.images = images;
    QString error;
    if (!studygen::generate(options, &error)) {
        std::fprintf(stderr, "studygen: %s\n", qPrintable(error));
        return false;
    }
    loading::LoadRequest request;
    request.programFolder = folder;
    request.catalogue = QStringLiteral("DICOMDIR");
    request.patientId = patientId;
    loading::LoadObserver observer;
    return !loading::RunVisitLoad(request, *VisitData().Content(), observer).failed();
}

inline bool LoadDemoVisit(const QString &folder)
{
    return LoadGeneratedVisit(folder, QStringLiteral("demo"), 0, QStringLiteral("KV000123"));
}

} // namespace bench
