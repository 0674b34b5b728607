#pragma once
// Helpers shared by the imaging tests: test data locations, independent readings by
// pydicom, the synthetic visits' manifest.

#include "imaging/imaging.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace testutil {

inline QString PydicomFile(const QString &name)
{
    return QStringLiteral(KORVANE_PYDICOM_FILES "/") + name;
}

inline QString DemoVisit()
{
    return QStringLiteral(KORVANE_TESTDATA_DIR "/demo");
}

inline QString MixedVisit()
{
    return QStringLiteral(KORVANE_TESTDATA_DIR "/mixed");
}

inline QJsonObject Manifest(const QString &visit)
{
    QFile f(visit + "/manifest.json");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

// Every image entry of a manifest, flattened, each with "file" relative to the visit.
inline std::vector<QJsonObject> ManifestImages(const QString &visit)
{
    std::vector<QJsonObject> out;
    const QJsonObject m = Manifest(visit);
    for (const auto &cat : m["catalogues"].toArray())
        for (const auto &p : cat.toObject()["patients"].toArray())
            for (const auto &s : p.toObject()["studies"].toArray())
                for (const auto &se : s.toObject()["series"].toArray())
                    for (const auto &im : se.toObject()["images"].toArray()) {
                        QJsonObject o = im.toObject();
                        o["seriesDescription"] = se.toObject()["description"];
                        o["patientName"] = p.toObject()["name"];
                        out.push_back(o);
                    }
    return out;
}

// The first manifest image matching a predicate.
template<class Pred>
QJsonObject FindImage(const QString &visit, Pred pred)
{
    for (const QJsonObject &o : ManifestImages(visit))
        if (pred(o))
            return o;
    return {};
}

struct Reference
{
    QJsonObject info;
    std::vector<double> values; // first frame, see pydicom_pixels.py
};

// Reads files with pydicom (Debian's, through /usr/bin/python3).
inline std::vector<Reference> Pydicom(const QStringList &files)
{
    QTemporaryDir dir;
    QProcess p;
    QStringList args{QStringLiteral(KORVANE_IMAGING_TESTS_DIR "/pydicom_pixels.py"), dir.path()};
    args += files;
    p.start(QStringLiteral("/usr/bin/python3"), args);
    p.waitForFinished(120000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::vector<Reference> out;
    for (int i = 0; i < files.size(); ++i) {
        Reference r;
        QFile j(dir.filePath(QString::number(i) + ".json"));
        if (j.open(QIODevice::ReadOnly))
            r.info = QJsonDocument::fromJson(j.readAll()).object();
        QFile raw(dir.filePath(QString::number(i) + ".raw"));
        if (raw.open(QIODevice::ReadOnly)) {
            const QByteArray b = raw.readAll();
            r.values.resize(static_cast<size_t>(b.size()) / sizeof(double));
            memcpy(r.values.data(), b.constData(), r.values.size() * sizeof(double));
        }
        out.push_back(r);
    }
    return out;
}

inline QString Dcmdump(const QString &file, const QString &tag)
{
    QProcess p;
    p.start(QStringLiteral("dcmdump"), {QStringLiteral("+P"), tag, QStringLiteral("+U8"), file});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of a component error is French throughout: the underlying library's own
// words (English) are in its detail only.
inline void ExpectFrenchOnly(const imaging::DicomError &e)
{
    for (const char *english : {"stream", "Stream", "Invalid", "missing", "Item", "premature", "error", "Error"})
        EXPECT_FALSE(e.Message().contains(QLatin1String(english))) << e.what();
    if (!e.Detail().isEmpty()) {
        EXPECT_FALSE(e.Message().contains(e.Detail())) << e.what();
    }
}

inline imaging::DicomImagePtr Read(const QString &path)
{
    auto images = imaging::CreateImages();
    return images->ReadFile(path);
}

inline QString WriteBytes(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    f.close();
    return f.fileName();
}

inline QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace testutil
