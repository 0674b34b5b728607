#include "viewer/loading/visitdata.h"

#include "viewer/loading/components.h"

#include <QLocale>

#include <cmath>

using imaging::DicomImage;
using imaging::DicomImages;

VisitContent::VisitContent() : images_(loading::NewImages()) {}

void VisitContent::AppendEntries(const std::vector<imaging::DicomImagePtr> &entries)
{
    std::lock_guard<std::mutex> lock(writeMutex_);
    for (const auto &entry : entries)
        images_->Add(entry);
}

void VisitContent::Clear()
{
    std::lock_guard<std::mutex> lock(writeMutex_);
    images_->Clear();
}

void VisitContent::AddSeries()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int count = seriesCount_.fetch_add(1) + 1;
    // A factor stored already for a later run keeps its place.
    if (int(calibration_.size()) < count)
        calibration_.push_back(0.0);
}

void VisitContent::ResetSeries()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calibration_.clear();
    seriesCount_.store(0);
}

std::vector<double> VisitContent::CalibrationFactors() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calibration_;
}

double VisitContent::CalibrationFactor(int series) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (series < 1 || series > int(calibration_.size()))
        return 0.0;
    return calibration_[series - 1];
}

bool VisitContent::SetCalibrationFactor(int series, double factor)
{
    if (series < 1)
        return false;
    // Every run of SeriesUID is a series the user can show and calibrate, also the runs
    // that the loader's splits (echo times, secondary captures) added after the count.
    const int runs = loading::CountSeries(*images_, false);
    std::lock_guard<std::mutex> lock(mutex_);
    if (series > int(calibration_.size())) {
        if (series > runs)
            return false;
        calibration_.resize(std::size_t(series), 0.0);
    }
    calibration_[std::size_t(series) - 1] = factor;
    return true;
}

namespace loading {

namespace {

QString KeyAt(const DicomImages &images, int index, bool stack)
{
    const auto image = images.Item(index);
    return image ? SeriesKeyOf(*image, stack) : QString();
}

QString SeriesUidAt(const DicomImages &images, int index)
{
    const auto image = images.Item(index);
    return image ? image->SeriesUID() : QString();
}

QStringList KeysAt(const DicomImages &images, int index)
{
    const auto image = images.Item(index);
    if (!image)
        return {QString(), QString()};
    return {image->SeriesUID(), image->StudyUID()};
}

} // namespace

QString SeriesKeyOf(const DicomImage &image, bool stack)
{
    return stack ? image.StudyUID() : image.SeriesUID();
}

int SeriesFirstIndex(const DicomImages &images, const QString &key, bool stack)
{
    const int count = images.Count();
    if (count == 0)
        return 0;
    for (int i = 1; i <= count; ++i) {
        if (KeyAt(images, i, stack) == key)
            return i;
    }
    return count + 1;
}

int SeriesLastIndex(const DicomImages &images, const QString &key, bool stack)
{
    const int count = images.Count();
    const int first = SeriesFirstIndex(images, key, stack);
    if (first == 0)
        return 0;
    if (first > count)
        return count;
    int last = first;
    while (last < count && KeyAt(images, last + 1, stack) == key)
        ++last;
    return last;
}

int SeriesImageCount(const DicomImages &images, const QString &key, bool stack)
{
    const int count = images.Count();
    const int first = SeriesFirstIndex(images, key, stack);
    if (first == 0 || first > count)
        return 0;
    return SeriesLastIndex(images, key, stack) - first + 1;
}

QString NextSeriesKey(const DicomImages &images, const QString &key, bool stack)
{
    const int last = SeriesLastIndex(images, key, stack);
    if (last == 0 || last >= images.Count())
        return QString();
    return SeriesUidAt(images, last + 1);
}

QString PriorSeriesKey(const DicomImages &images, const QString &key, bool stack)
{
    const int first = SeriesFirstIndex(images, key, stack);
    if (first <= 1)
        return QString();
    return SeriesUidAt(images, first - 1);
}

QStringList NextSeriesKeys(const DicomImages &images, const QString &key, bool stack)
{
    const int last = SeriesLastIndex(images, key, stack);
    if (last == 0 || last >= images.Count())
        return {QString(), QString()};
    return KeysAt(images, last + 1);
}

QStringList PriorSeriesKeys(const DicomImages &images, const QString &key, bool stack)
{
    const int first = SeriesFirstIndex(images, key, stack);
    if (first <= 1)
        return {QString(), QString()};
    return KeysAt(images, first - 1);
}

int CountSeries(const DicomImages &images, bool stack)
{
    const int count = images.Count();
    int runs = 0;
    QString previous;
    for (int i = 1; i <= count; ++i) {
        const QString key = KeyAt(images, i, stack);
        if (i == 1 || key != previous)
            ++runs;
        previous = key;
    }
    return runs;
}

int SeriesOrdinal(const DicomImages &images, const QString &seriesUid)
{
    const int count = images.Count();
    int runs = 0;
    QString previous;
    for (int i = 1; i <= count; ++i) {
        const QString uid = SeriesUidAt(images, i);
        if (i == 1 || uid != previous)
            ++runs;
        if (uid == seriesUid)
            return runs;
        previous = uid;
    }
    return 0;
}

int ViewerSeriesFirstIndex(const DicomImages &images, const QString &seriesUid)
{
    const int count = images.Count();
    for (int i = 1; i <= count; ++i) {
        if (SeriesUidAt(images, i) == seriesUid)
            return i;
    }
    return 0;
}

int ViewerSeriesLastIndex(const DicomImages &images, const QString &seriesUid)
{
    const int first = ViewerSeriesFirstIndex(images, seriesUid);
    if (first == 0)
        return 0;
    int last = first;
    const int count = images.Count();
    for (int i = first + 1; i <= count; ++i) {
        if (SeriesUidAt(images, i) == seriesUid)
            last = i;
    }
    return last;
}

// ---- Texts ----

QString AttributeText(const imaging::DicomAttributes &attributes, int group, int element)
{
    const auto attribute = attributes.Item(group, element);
    if (!attribute || !attribute->Exists())
        return QString();
    const QVariant value = attribute->Value();
    if (!value.isValid())
        return QString();
    if (value.typeId() == QMetaType::QByteArray || value.canConvert<imaging::DicomDataSetsPtr>())
        return QString();
    if (value.typeId() == QMetaType::QString)
        return value.toString().trimmed();
    return attribute->Text().trimmed();
}

QString PrivateText(const imaging::DicomAttributes &attributes, int group, int element)
{
    const auto attribute = attributes.Item(group, element);
    if (!attribute || !attribute->Exists())
        return QString();
    const QVariant value = attribute->Value();
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray()).remove(QChar(0)).trimmed();
    return AttributeText(attributes, group, element);
}

void DeclareCommentAttributes()
{
    auto global = NewComponent<imaging::DicomGlobal>();
    global->AddDictionaryElement(0x0009, 0x0001, QStringLiteral("LO"), QStringLiteral("1"), QStringLiteral("Commentaire"));
    global->AddDictionaryElement(0x0009, 0x0003, QStringLiteral("LO"), QStringLiteral("1"), QStringLiteral("Commentaire"));
}

QString TextLine(const QString &prefix, const QString &text)
{
    const int start = text.indexOf(prefix);
    if (start < 0 || prefix.isEmpty())
        return QString();
    const int end = text.indexOf(QLatin1Char('\r'), start);
    return end < 0 ? text.mid(start) : text.mid(start, end - start);
}

QString ReplaceTextLine(const QString &prefix, const QString &text, const QString &newLine)
{
    const int at = text.indexOf(prefix);
    if (at < 0 || prefix.isEmpty())
        return QString();
    const int lineStart = text.lastIndexOf(QLatin1Char('\r'), at) + 1; // 0 when none
    int lineEnd = text.indexOf(QLatin1Char('\r'), at);
    if (lineEnd < 0)
        lineEnd = text.size();
    QString replacement = newLine;
    if (replacement.isEmpty() && prefix == QLatin1String("Lgd:"))
        replacement = prefix;
    return text.left(lineStart) + replacement + text.mid(lineEnd);
}

long long RoundHalfEven(double value)
{
    return static_cast<long long>(std::nearbyint(value)); // default rounding: to even
}

namespace {

// First value of a numeric attribute, when present and readable.
bool FirstNumber(const imaging::DicomAttributes &attributes, int group, int element, double &out)
{
    const auto attribute = attributes.Item(group, element);
    if (!attribute || !attribute->Exists())
        return false;
    QVariant value = attribute->ValueByIndex(1);
    if (!value.isValid())
        return false;
    bool ok = false;
    if (value.typeId() == QMetaType::QString)
        out = QLocale::c().toDouble(value.toString().trimmed(), &ok);
    else
        out = value.toDouble(&ok);
    return ok;
}

} // namespace

void DefaultWindow(DicomImage &image)
{
    // Settle the component's own initial window first: setting one of the two values
    // on an image that has not yet computed its window leaves the other to be computed
    // later, which would overwrite the value set here.
    (void)image.Level();
    const auto attributes = image.Attributes();
    double level = 0, width = 0;
    const bool hasLevel = FirstNumber(*attributes, 0x0028, 0x1050, level);
    const bool hasWidth = FirstNumber(*attributes, 0x0028, 0x1051, width);
    double maximum = 0, minimum = 0;
    if (!hasLevel || !hasWidth) {
        maximum = image.MaximumPixelValue();
        minimum = image.MinimumPixelValue();
    }
    // Two values only (a single-bit image, a segmentation mask): the upper one is the
    // level, so that they show black and white (with the rounded mean both are white).
    const double middle = maximum - minimum == 1 ? maximum : double(RoundHalfEven((maximum + minimum) / 2.0));
    image.SetLevel(hasLevel ? double(RoundHalfEven(level)) : middle);
    image.SetWidth(hasWidth ? width : maximum - minimum + 1);
}

QString StudyCaption(const DicomImage &image)
{
    const TTemplateDM *dm = TemplateDMIfAny();
    return StudyCaption(image, dm && dm->HasOption(QStringLiteral("/DEMO")));
}

QString StudyCaption(const DicomImage &image, bool demo)
{
    const auto attributes = image.Attributes();
    const QString name = demo ? QStringLiteral("NOM PATIENT") : image.Name().trimmed();
    return name + QStringLiteral(" / ") + AttributeText(*attributes, 0x0008, 0x0020)
           + QLatin1Char(' ') + AttributeText(*attributes, 0x0008, 0x0030);
}

QString SeriesCaption(const imaging::DicomAttributes &attributes)
{
    QString caption = AttributeText(attributes, 0x0008, 0x103E);
    if (caption.isEmpty())
        caption = AttributeText(attributes, 0x0018, 0x0015);
    return caption.isEmpty() ? QStringLiteral("N/A") : caption;
}

} // namespace loading

// ---- TVisitData ----

TVisitData::TVisitData() : content_(std::make_shared<VisitContent>()) {}

void TVisitData::ResetVisitImages()
{
    content_ = std::make_shared<VisitContent>();
}

void TVisitData::ClearVisitImages()
{
    content_->Clear();
}

QString TVisitData::SeriesKey(const DicomImage &image) const
{
    return loading::SeriesKeyOf(image, StackMode());
}

int TVisitData::SeriesFirstIndex(const QString &key) const
{
    return loading::SeriesFirstIndex(*VisitImages(), key, StackMode());
}

int TVisitData::SeriesLastIndex(const QString &key) const
{
    return loading::SeriesLastIndex(*VisitImages(), key, StackMode());
}

int TVisitData::SeriesImageCount(const QString &key) const
{
    return loading::SeriesImageCount(*VisitImages(), key, StackMode());
}

QString TVisitData::NextSeriesKey(const QString &key) const
{
    return loading::NextSeriesKey(*VisitImages(), key, StackMode());
}

QString TVisitData::PriorSeriesKey(const QString &key) const
{
    return loading::PriorSeriesKey(*VisitImages(), key, StackMode());
}

QStringList TVisitData::NextSeriesKeys(const QString &key) const
{
    return loading::NextSeriesKeys(*VisitImages(), key, StackMode());
}

QStringList TVisitData::PriorSeriesKeys(const QString &key) const
{
    return loading::PriorSeriesKeys(*VisitImages(), key, StackMode());
}

int TVisitData::CountSeries() const
{
    return loading::CountSeries(*VisitImages(), StackMode());
}

int TVisitData::SeriesOrdinal(const QString &seriesUid) const
{
    return loading::SeriesOrdinal(*VisitImages(), seriesUid);
}

int TVisitData::ViewerSeriesFirstIndex(const DicomImages &controlImages, const QString &uid)
{
    return loading::ViewerSeriesFirstIndex(controlImages, uid);
}

int TVisitData::ViewerSeriesLastIndex(const DicomImages &controlImages, const QString &uid)
{
    return loading::ViewerSeriesLastIndex(controlImages, uid);
}

TVisitData &VisitData()
{
    return TemplateDM().Part<TVisitData>();
}
