#include "viewer/loading/cornertext.h"

#include "viewer/loading/visitdata.h"

#include "imaging/pixelspacing.h"

#include <QHash>
#include <QLocale>
#include <QStringList>

#include <cmath>
#include <optional>

using imaging::DicomAttributes;
using imaging::DicomImage;

namespace loading {

namespace {

const QChar kCR = QLatin1Char('\r');

constexpr int kYellow = 0x00FFFF; // RGB 255, 255, 0 as a Windows colour
constexpr int kWhite = 0xFFFFFF;
constexpr int kSilver = 0xC0C0C0;
constexpr int kBlue = 0xFF0000; // RGB 0, 0, 255

// The attributes of one image, each fetched from the data set once: composing the
// texts asks for some of them several times, and every fetch copies the value.
class CachedAttributes final : public DicomAttributes
{
public:
    explicit CachedAttributes(imaging::DicomAttributesPtr inner) : inner_(std::move(inner)) {}
    const char *ClassName() const override { return kClassName; }
    int Count() const override { return inner_->Count(); }
    imaging::DicomAttributePtr Item(int group, int element) const override
    {
        const quint32 key = (quint32(group) << 16) | quint32(element & 0xFFFF);
        auto found = cache_.constFind(key);
        if (found == cache_.constEnd())
            found = cache_.insert(key, inner_->Item(group, element));
        return *found;
    }
    imaging::DicomAttributePtr ItemByIndex(int index) const override { return inner_->ItemByIndex(index); }
    imaging::DicomAttributePtr Add(int group, int element, const QVariant &value, const QString &vr) override
    {
        cache_.remove((quint32(group) << 16) | quint32(element & 0xFFFF));
        return inner_->Add(group, element, value, vr);
    }
    bool Remove(int group, int element) override
    {
        cache_.remove((quint32(group) << 16) | quint32(element & 0xFFFF));
        return inner_->Remove(group, element);
    }

private:
    imaging::DicomAttributesPtr inner_;
    mutable QHash<quint32, imaging::DicomAttributePtr> cache_;
};

QString Tag(int group, int element)
{
    return QStringLiteral("(%1,%2)")
        .arg(group, 4, 16, QLatin1Char('0'))
        .arg(element, 4, 16, QLatin1Char('0'))
        .toUpper();
}

// Value number `index` of an attribute as a number; nothing when absent or unreadable.
std::optional<double> NumberAt(const DicomAttributes &attributes, int group, int element, int index = 1)
{
    const auto attribute = attributes.Item(group, element);
    if (!attribute || !attribute->Exists())
        return std::nullopt;
    const QVariant value = attribute->ValueByIndex(index);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    double number = 0;
    if (value.typeId() == QMetaType::QString)
        number = QLocale::c().toDouble(value.toString().trimmed(), &ok);
    else if (value.canConvert<double>() && value.typeId() != QMetaType::QByteArray)
        number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

// The first value of a present attribute that must be a number.
double RequiredNumber(const DicomAttributes &attributes, int group, int element)
{
    const auto number = NumberAt(attributes, group, element);
    if (!number) {
        throw ValueError(QStringLiteral("%1 is not a number: \"%2\"")
                             .arg(Tag(group, element), AttributeText(attributes, group, element)));
    }
    return *number;
}

QString Fixed1(double value)
{
    return QString::asprintf("%.1f", value);
}

QString Present(const DicomAttributes &attributes, int group, int element)
{
    return AttributeText(attributes, group, element);
}

QString Integer(double value)
{
    return QString::number(RoundHalfEven(value));
}

// Joins lines with carriage returns.
QString Lines(const QStringList &lines)
{
    return lines.join(kCR);
}

imaging::DicomLabelPtr NewLabel(DicomImage &image, int type, int left, int top, int width, int height)
{
    auto label = image.Labels()->AddNew();
    label->SetLabelType(type);
    label->SetLeft(left);
    label->SetTop(top);
    label->SetWidth(width);
    label->SetHeight(height);
    label->SetTag(QVariantList{0, 0});
    label->SetImageTied(false);
    label->SetScaleWithCell(true);
    return label;
}

void TextStyle(imaging::DicomLabel &label, int foreColour, int backColour)
{
    label.SetTransparent(true);
    label.SetBackColour(backColour);
    label.SetFontName(QStringLiteral("Arial"));
    label.SetFontSize(20);
    label.SetScaleFontSize(true);
    label.SetRotateTextWithImage(false);
    label.SetShadow(1);
    label.SetForeColour(foreColour);
}

} // namespace

QString SlicePositionLine(const DicomAttributes &attributes)
{
    double rowSpacing = 0, columnSpacing = 0;
    const bool spacing = imaging::PixelSpacing(attributes, rowSpacing, columnSpacing);
    const auto rows = NumberAt(attributes, 0x0028, 0x0010);
    const auto columns = NumberAt(attributes, 0x0028, 0x0011);
    std::optional<double> p[3], r[3], c[3];
    for (int a = 0; a < 3; ++a) {
        p[a] = NumberAt(attributes, 0x0020, 0x0032, a + 1);
        r[a] = NumberAt(attributes, 0x0020, 0x0037, a + 1);
        c[a] = NumberAt(attributes, 0x0020, 0x0037, a + 4);
    }
    if (!spacing || !rows || !columns)
        return QString();
    for (int a = 0; a < 3; ++a) {
        if (!p[a] || !r[a] || !c[a])
            return QString();
    }
    double m[3];
    for (int a = 0; a < 3; ++a)
        m[a] = std::sqrt(*r[a] * *r[a] + *c[a] * *c[a]);
    const double smallest = std::min({m[0], m[1], m[2]});
    static const char *const prefixes[3] = {"Sag: ", "Cor: ", "Ax: "};
    static const char *const positive[3] = {"G", "P", "S"};
    static const char *const negative[3] = {"D", "A", "I"};
    QString line;
    for (int a = 0; a < 3; ++a) {
        if (m[a] != smallest)
            continue;
        const double position = *p[a] + (*columns / 2.0) * columnSpacing * *r[a]
                                + (*rows / 2.0) * rowSpacing * *c[a];
        QString letter;
        if (position > 0)
            letter = QLatin1String(positive[a]);
        else if (position < 0)
            letter = QLatin1String(negative[a]);
        line = QLatin1String(prefixes[a]) + letter + Fixed1(std::fabs(position));
    }
    return line;
}

namespace {

QString TopLeftWith(DicomImage &image, CornerTextContext &context, CachedAttributes &cached)
{
    CachedAttributes *attributes = &cached;
    const DicomAttributes &a = cached;
    QStringList lines;
    for (const auto &[group, element] : {std::pair{0x0008, 0x0060}, {0x0020, 0x0010}, {0x0008, 0x103E}}) {
        const QString value = Present(a, group, element);
        if (!value.isEmpty())
            lines << value;
    }

    if (!Present(a, 0x0020, 0x0011).isEmpty()) {
        const double number = RequiredNumber(a, 0x0020, 0x0011);
        if (number != std::trunc(number) || std::fabs(number) > 2147483647.0)
            throw ValueError(QStringLiteral("(0020,0011) is not an integer: \"%1\"").arg(Present(a, 0x0020, 0x0011)));
        context.seriesCounter = int(number);
    } else {
        attributes->Add(0x0020, 0x0011, QString::number(context.seriesCounter), QStringLiteral("IS"));
    }
    lines << QStringLiteral("Se: %1/%2").arg(context.seriesCounter).arg(context.seriesRecords);

    const auto instance = a.Item(0x0020, 0x0013);
    const QString instanceText = instance && instance->Exists() ? instance->Text() : QString();
    lines << QStringLiteral("Im: ") + instanceText + QLatin1Char('/');

    if (image.FrameCount() >= 2)
        lines << QStringLiteral("Fr: %1/%2").arg(image.Frame()).arg(image.FrameCount());

    const QString slice = SlicePositionLine(a);
    if (!slice.isEmpty())
        lines << slice;

    lines << QStringLiteral("Dim: %1 x %2").arg(image.SizeX()).arg(image.SizeY());
    lines << QStringLiteral("Zoom: ") + Fixed1(image.ActualZoom()) + QLatin1Char('x');
    return Lines(lines);
}

QString BottomLeftWith(const DicomImage &image, const CachedAttributes &cached)
{
    const DicomAttributes &a = cached;
    QStringList lines{QStringLiteral("Lgd:")};
    const QString sopClass = image.SOPClass();

    if (sopClass == QLatin1String(kSopClassCT)) {
        if (const QString kvp = Present(a, 0x0018, 0x0060); !kvp.isEmpty())
            lines << kvp + QStringLiteral(" kVP");
        if (const QString ma = Present(a, 0x0018, 0x1151); !ma.isEmpty())
            lines << ma + QStringLiteral(" mA");
        if (const QString tilt = Present(a, 0x0018, 0x1120); !tilt.isEmpty())
            lines << QStringLiteral("Tilt: ") + tilt;
        if (!Present(a, 0x0018, 0x1150).isEmpty())
            lines << Fixed1(RequiredNumber(a, 0x0018, 0x1150) / 1000.0) + QStringLiteral(" s");
    } else if (sopClass == QLatin1String(kSopClassMR)) {
        if (const QString etl = Present(a, 0x0018, 0x0091); !etl.isEmpty())
            lines << QStringLiteral("ET: ") + etl;
        if (!Present(a, 0x0018, 0x0080).isEmpty())
            lines << QStringLiteral("TR: ") + Fixed1(RequiredNumber(a, 0x0018, 0x0080));
        if (!Present(a, 0x0018, 0x0081).isEmpty())
            lines << QStringLiteral("TE: ") + Fixed1(RequiredNumber(a, 0x0018, 0x0081));
        if (const QString coil = Present(a, 0x0018, 0x1250); !coil.isEmpty())
            lines << coil;
        const auto thickness = NumberAt(a, 0x0018, 0x0050);
        const auto spacing = NumberAt(a, 0x0018, 0x0088);
        if (thickness && spacing)
            lines << Fixed1(*thickness) + QStringLiteral("thk/") + Fixed1(*spacing - *thickness) + QStringLiteral("sp");
    } else if (sopClass == QLatin1String(kSopClassXA)) {
        const auto angleLine = [&](int element, const char *positive, const char *negative, const char *zero) {
            const QString text = Present(a, 0x0018, element);
            if (text.isEmpty())
                return;
            const double angle = RequiredNumber(a, 0x0018, element);
            const char *prefix = angle > 0 ? positive : angle < 0 ? negative : zero;
            lines << QLatin1String(prefix) + text;
        };
        angleLine(0x1511, "CRA: ", "CAU: ", "CAU/CRA: ");
        angleLine(0x1510, "LTOA: ", "RTOA: ", "RTOA/LTOA: ");
    }

    lines << QStringLiteral("W: ") + Integer(image.Width()) + QStringLiteral(" L: ") + Integer(image.Level());
    return Lines(lines);
}

QString TopRightWith(const DicomImage &image, bool demo, const CachedAttributes &cached)
{
    const DicomAttributes &a = cached;
    QStringList lines;
    if (demo) {
        lines << QStringLiteral("NOM INSTITUTION") << QStringLiteral("NOM PATIENT");
    } else {
        if (const QString institution = Present(a, 0x0008, 0x0080); !institution.isEmpty())
            lines << institution;
        if (const QString name = Present(a, 0x0010, 0x0010); !name.isEmpty())
            lines << QString(name).replace(QLatin1Char('^'), QLatin1Char(' ')).trimmed();
    }

    QString demographics;
    if (!Present(a, 0x0010, 0x0030).isEmpty()) {
        const QDate birth = image.DateOfBirthAsDate();
        if (birth.isValid())
            demographics = birth.toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (const QString age = Present(a, 0x0010, 0x1010); !age.isEmpty())
        demographics += QLatin1Char(' ') + age;
    demographics += QLatin1Char(' ') + image.Sex().trimmed();
    demographics += QLatin1Char(' ') + image.PatientID().trimmed();
    lines << demographics.trimmed();

    if (const QString accession = Present(a, 0x0008, 0x0050); !accession.isEmpty())
        lines << QStringLiteral("Acc: ") + accession;
    if (const QString date = Present(a, 0x0008, 0x0020); !date.isEmpty())
        lines << date;
    if (const QString time = Present(a, 0x0008, 0x0030); !time.isEmpty())
        lines << time;
    return Lines(lines);
}

QString BottomRightWith(const DicomImage &image, const CachedAttributes &cached)
{
    const DicomAttributes &a = cached;
    QString text;

    const QString derivation = Present(a, 0x0008, 0x2111);
    const QString lossy = Present(a, 0x0028, 0x2110);
    const QString ratio = Present(a, 0x0028, 0x2112);
    if (!derivation.isEmpty() || !lossy.isEmpty() || !ratio.isEmpty()) {
        const auto ratioAttribute = a.Item(0x0028, 0x2112);
        const bool ratioExists = ratioAttribute && ratioAttribute->Exists();
        QString firstRatio;
        if (ratioExists) {
            const QVariant v = ratioAttribute->ValueByIndex(1);
            firstRatio = v.typeId() == QMetaType::Double ? QString::number(v.toDouble()) : v.toString().trimmed();
        }
        text += derivation + QStringLiteral(" (") + lossy
                + ((ratioExists && !lossy.isEmpty()) ? QStringLiteral(":") : QString()) + firstRatio
                + QLatin1Char(')') + kCR;
    }

    QString body = Present(a, 0x0018, 0x0015);
    if (const QString position = Present(a, 0x0018, 0x5100); !position.isEmpty())
        body += QLatin1Char(' ') + position;
    text = (text + body).trimmed() + kCR;

    if (const auto kernel = a.Item(0x0018, 0x1210); kernel && kernel->Exists()) {
        const QString first = kernel->ValueByIndex(1).toString().trimmed();
        if (!first.isEmpty())
            text += first + kCR;
    }

    QString equipment = Present(a, 0x0008, 0x1090);
    if (equipment.isEmpty())
        equipment = Present(a, 0x0008, 0x0070);
    if (image.SOPClass() == QLatin1String(kSopClassMR) && !Present(a, 0x0018, 0x0087).isEmpty())
        equipment = Fixed1(RequiredNumber(a, 0x0018, 0x0087) / 10000.0) + QStringLiteral("T ") + equipment;
    if (!equipment.isEmpty())
        text += equipment + kCR;

    // No field of view without a usable spacing (the image has no ruler either).
    double rowSpacing = 0, columnSpacing = 0;
    const auto rows = NumberAt(a, 0x0028, 0x0010);
    const auto columns = NumberAt(a, 0x0028, 0x0011);
    if (imaging::PixelSpacing(a, rowSpacing, columnSpacing) && rows && columns) {
        text += QStringLiteral("DFOV: ") + Fixed1(*rows * rowSpacing / 10.0) + QStringLiteral(" x ")
                + Fixed1(*columns * columnSpacing / 10.0) + QStringLiteral(" cm");
    }
    return text;
}

} // namespace

QString TopLeftText(DicomImage &image, CornerTextContext &context)
{
    CachedAttributes cached(image.Attributes());
    return TopLeftWith(image, context, cached);
}

QString BottomLeftText(const DicomImage &image)
{
    return BottomLeftWith(image, CachedAttributes(image.Attributes()));
}

QString TopRightText(const DicomImage &image, bool demo)
{
    return TopRightWith(image, demo, CachedAttributes(image.Attributes()));
}

QString BottomRightText(const DicomImage &image)
{
    return BottomRightWith(image, CachedAttributes(image.Attributes()));
}

void AddImageLabels(DicomImage &image, CornerTextContext &context)
{
    // Compose everything first: a value that is not a number leaves the image untouched.
    CornerTextContext working = context;
    CachedAttributes cached(image.Attributes());
    const QString topLeft = TopLeftWith(image, working, cached);
    if (image.SOPClass() == QLatin1String(kSopClassXA))
        image.SetCacheDisplay(false);
    image.SetVOILUT(0);
    image.SetModalityLUT(0);
    image.SetPresentationLUT(0);
    const QString bottomLeft = BottomLeftWith(image, cached);
    const QString topRight = TopRightWith(image, context.demo, cached);
    const QString bottomRight = BottomRightWith(image, cached);
    context = working;

    struct Marker { const char *text; int top; int alignment; };
    const Marker markers[4] = {{"Top", 5, 1}, {"Left", 5, 8}, {"Right", 5, 10}, {"Bottom", 500, 9}};
    for (const Marker &m : markers) {
        auto label = NewLabel(image, imaging::DicomLabel::TypeOrientation, 10, m.top, 980, 495);
        label->SetAlignment(m.alignment);
        label->SetText(QLatin1String(m.text));
        TextStyle(*label, kYellow, context.backColour);
    }
    for (const auto &[left, top, width, height] :
         {std::tuple{950, 200, -25, 600}, std::tuple{200, 950, 600, -25}}) {
        auto ruler = NewLabel(image, imaging::DicomLabel::TypeRuler, left, top, width, height);
        ruler->SetShadow(1);
        ruler->SetForeColour(kWhite);
    }
    struct Corner { const QString *text; int top; int alignment; };
    const Corner corners[4] = {{&topLeft, 5, 0}, {&bottomLeft, 500, 8}, {&topRight, 5, 2}, {&bottomRight, 500, 10}};
    for (const Corner &c : corners) {
        auto label = NewLabel(image, imaging::DicomLabel::TypeText, 10, c.top, 980, 495);
        label->SetAlignment(c.alignment);
        TextStyle(*label, kWhite, context.backColour);
        label->SetText(*c.text);
        // The bottom-left text holds the legend of the marks, one line that grows with
        // every mark: it is drawn on as many lines as it needs, clear of the other texts.
        if (c.text == &bottomLeft)
            label->SetWrapText(true);
    }
    auto marker = image.Labels()->AddNew();
    marker->SetLabelType(imaging::DicomLabel::TypeRectangle);
    marker->SetLeft(0);
    marker->SetTop(0);
    marker->SetWidth(14);
    marker->SetHeight(14);
    marker->SetLineWidth(1);
    marker->SetLineStyle(0);
    marker->SetForeColour(kSilver);
    marker->SetBackColour(kBlue);
}

} // namespace loading
