// The generated demo visit, laid out in a folder and loaded into the viewer's VisitData(), for the benchmarks that
// measure the viewer on a real visit (its first patient: the CT series, the MR, the XA run, the captures).
#pragma once

#include "tools/studygen/studygen.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"

#include <QString>

#include <cstdio>

namespace bench {

inline bool LoadDemoVisit(const QString &folder)
{
    studygen::Options options;
    options.outDir = folder;
    options.preset = QStringLiteral("demo");
    QString error;
    if (!studygen::generate(options, &error)) {
        std::fprintf(stderr, "studygen: %s\n", qPrintable(error));
        return false;
    }
    loading::LoadRequest request;
    request.programFolder = folder;
    request.catalogue = QStringLiteral("DICOMDIR");
    request.patientId = QStringLiteral("KV000123");
    loading::LoadObserver observer;
    return !loading::RunVisitLoad(request, *VisitData().Content(), observer).failed();
}

} // namespace bench
