// Process-wide settings of the component: orientation letters, switches, dictionary.

#include "internal.h"

#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>

#include <openjpeg.h>

#include <QHash>

namespace imaging::detail {

namespace {

struct GlobalState
{
    std::mutex mutex;
    QString directions = QStringLiteral("R\\L\\A\\P\\F\\H");
    QHash<QString, int> words;
};

GlobalState &State()
{
    static GlobalState s;
    return s;
}

// "1", "2", "1-n", "2-2n", "1-3" to a DCMTK multiplicity range.
void ParseVM(const QString &text, int &vmMin, int &vmMax)
{
    const QString t = text.trimmed().toLower();
    vmMin = vmMax = 1;
    if (t.isEmpty())
        return;
    const qsizetype dash = t.indexOf('-');
    bool ok = false;
    if (dash < 0) {
        const int v = t.toInt(&ok);
        if (ok && v > 0)
            vmMin = vmMax = v;
        return;
    }
    const int lo = t.left(dash).toInt(&ok);
    if (ok && lo > 0)
        vmMin = lo;
    const QString hi = t.mid(dash + 1);
    if (hi.endsWith('n')) {
        vmMax = DcmVariableVM;
        return;
    }
    const int h = hi.toInt(&ok);
    vmMax = ok && h >= vmMin ? h : vmMin;
}

class GlobalImpl final : public DicomGlobal
{
public:
    const char *ClassName() const override { return kClassName; }
    QString DirectionStrings() const override
    {
        std::lock_guard lock(State().mutex);
        return State().directions;
    }
    void SetDirectionStrings(const QString &v) override
    {
        std::lock_guard lock(State().mutex);
        State().directions = v;
    }
    int RegWord(const QString &name) const override
    {
        std::lock_guard lock(State().mutex);
        return State().words.value(name.toLower(), 0);
    }
    void SetRegWord(const QString &name, int value) override
    {
        {
            std::lock_guard lock(State().mutex);
            State().words.insert(name.toLower(), value);
        }
        if (name.compare(QStringLiteral("CacheMegabytes"), Qt::CaseInsensitive) == 0 && value > 0)
            SetFrameCacheBudget(static_cast<std::size_t>(value) * 1024 * 1024);
    }
    QString Version() const override
    {
        return QStringLiteral("4.2.0 (DCMTK %1, OpenJPEG %2)")
            .arg(QString::fromLatin1(OFFIS_DCMTK_VERSION_STRING), QString::fromLatin1(opj_version()));
    }
    void AddDictionaryElement(int group, int element, const QString &vr, const QString &vm,
                              const QString &description) override
    {
        int vmMin = 1, vmMax = 1;
        ParseVM(vm, vmMin, vmMax);
        DcmVR dvr(vr.trimmed().toLatin1().constData());
        if (dvr.getEVR() == EVR_UNKNOWN)
            dvr = DcmVR(EVR_UN);
        const QByteArray name = description.toUtf8();
        auto *entry = new DcmDictEntry(static_cast<Uint16>(group), static_cast<Uint16>(element), dvr,
                                       name.constData(), vmMin, vmMax, "private", OFTrue, nullptr);
        // Every data set of the process reads the same dictionary: change it under its
        // write lock only.
        DcmDataDictionary &dict = dcmDataDict.wrlock();
        dict.addEntry(entry);
        dcmDataDict.wrunlock();
    }
};

} // namespace

QString GlobalDirectionStrings()
{
    std::lock_guard lock(State().mutex);
    return State().directions;
}

ComponentObject *NewGlobalObject()
{
    return new GlobalImpl();
}

} // namespace imaging::detail

namespace imaging {

DicomGlobalPtr CreateGlobal()
{
    return std::make_shared<detail::GlobalImpl>();
}

} // namespace imaging
