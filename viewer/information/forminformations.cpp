#include "viewer/information/forminformations.h"

#include "common/productuid.h"
#include "viewer/information/datadicom.h"
#include "viewer/information/infofields.h"
#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdata.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace information;

namespace {

const QColor kLightBlue(234, 244, 255);

QFont ArialPixels(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Text of an attribute as the component gives it, not trimmed; empty when absent.
QString TextOf(const imaging::DicomAttributes &attributes, int group, int element)
{
    const auto a = attributes.Item(group, element);
    return a && a->Exists() ? a->Text() : QString();
}

struct ValueRow
{
    const char *caption;
    const char *name;
};

// Left column: the first nine rows; right column: the last five.
const ValueRow kValueRows[] = {
    {"Dossier", "RV3DLabelDossier"},
    {"Nom", "RV3DLabelNom"},
    {"Naissance", "RV3DLabelNaissance"},
    {"Sexe", "RV3DLabelSexe"},
    {"Taille / Poids", "RV3DLabelTaillePoids"},
    {"Partie du corps", "RV3DLabelBodyPart"},
    {"Modalité", "RV3DLabelModality"},
    {"Description de l'étude", "RV3DLabelStudyDesc"},
    {"Appareil", "RV3DLabelMachine"},
    {"No Accession", "RV3DLabelAccession"},
    {"Date / Heure", "RV3DLabelDateTime"},
    {"Radiologiste", "RV3DLabelRadiologiste"},
    {"Technologue", "RV3DLabelTechnologue"},
    {"Référant", "RV3DLabelReferant"},
};

// The two bottom buttons' pictures.
QIcon OldCasesIcon()
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(250, 236, 180));
    p.drawRect(QRectF(3.5, 5.5, 13, 15));
    p.setBrush(QColor(255, 250, 225));
    p.drawRect(QRectF(6.5, 2.5, 13, 15));
    p.setPen(QPen(QColor(20, 90, 200), 2));
    p.drawEllipse(QRectF(11, 11, 8, 8));
    p.drawLine(QPointF(18, 18), QPointF(22, 22));
    return QIcon(pixmap);
}

QIcon DumpIcon()
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 2.5, 14, 19));
    p.setPen(QPen(QColor(90, 90, 90), 1));
    for (int y = 6; y <= 14; y += 3)
        p.drawLine(QPointF(7, y + 0.5), QPointF(16, y + 0.5));
    p.setPen(QPen(QColor(0, 140, 40), 2.5));
    p.drawLine(QPointF(14, 15), QPointF(14, 22));
    p.drawLine(QPointF(11, 19), QPointF(14, 22));
    p.drawLine(QPointF(17, 19), QPointF(14, 22));
    return QIcon(pixmap);
}

} // namespace

namespace information {

QPixmap ReportStatusIcon(int status)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A sheet; with lines of text when the report has one; a green check when it is final.
    p.setPen(QPen(status > 0 ? QColor(40, 40, 40) : QColor(150, 150, 150), 1));
    p.setBrush(status > 0 ? Qt::white : QColor(235, 235, 235));
    QPainterPath sheet;
    sheet.moveTo(6.5, 2.5);
    sheet.lineTo(20.5, 2.5);
    sheet.lineTo(26.5, 8.5);
    sheet.lineTo(26.5, 29.5);
    sheet.lineTo(6.5, 29.5);
    sheet.closeSubpath();
    p.drawPath(sheet);
    p.drawLine(QPointF(20.5, 2.5), QPointF(20.5, 8.5));
    p.drawLine(QPointF(20.5, 8.5), QPointF(26.5, 8.5));
    if (status > 0) {
        p.setPen(QPen(QColor(70, 100, 160), 1.5));
        for (int y = 12; y <= 24; y += 4)
            p.drawLine(QPointF(9.5, y), QPointF(23.5, y));
    }
    if (status == 2) {
        p.setPen(QPen(QColor(0, 150, 40), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(12, 20), QPointF(17, 26), QPointF(28, 12)}));
    }
    return pixmap;
}

void TReportsSplitterHandle::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect().adjusted(2, 2, -2, -2);
    const int left = r.left(), top = r.top();
    const int bottom = r.top() + r.height() - 1;
    const int h = r.height();
    const int a = h / 2;
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);
    // First triangle: up from the bottom-left corner in the shadow colour, down and back
    // along the bottom in the highlight colour.
    p.setPen(shadow);
    p.drawLine(left, bottom, left + a, top);
    p.setPen(highlight);
    p.drawLine(left + a, top, left + h, bottom);
    p.drawLine(left + h, bottom, left, bottom);
    // Second, upside down: up and along the top in the shadow colour, back down in the
    // highlight colour.
    p.setPen(shadow);
    p.drawLine(left + h + a, bottom, left + h, top);
    p.drawLine(left + h, top, left + 2 * h, top);
    p.setPen(highlight);
    p.drawLine(left + 2 * h, top, left + h + a, bottom);
}

void TInfoRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor background = selected ? option.palette.color(QPalette::Active, QPalette::Highlight)
                                       : (index.row() % 2 ? QColor(Qt::white) : kLightBlue);
    const QColor text = selected ? option.palette.color(QPalette::Active, QPalette::HighlightedText) : QColor(Qt::black);
    painter->save();
    painter->fillRect(cell, background);
    QFont font = option.font;
    int x = cell.left() + 1;
    if (reports_) {
        const int status = index.data(kStatusRole).toInt();
        painter->drawPixmap(cell.topLeft(), ReportStatusIcon(status));
        font.setBold(status > 0);
        x = cell.left() + 32 + 4;
    } else {
        font.setBold(false);
    }
    const QFontMetrics metrics(font);
    const int y = cell.top() + (cell.height() - metrics.height()) / 2;
    painter->setFont(font);
    painter->setPen(text);
    painter->drawText(QRect(x, y, cell.right() - x, metrics.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize TInfoRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (reports_)
        size.setHeight(32); // the list's fixed item height
    return size;
}

} // namespace information

TFormInformations::TFormInformations(imaging::DicomImagePtr image, int openedTag, QWidget *parent)
    : TTemplate3(parent), image_(std::move(image)), openedTag_(openedTag)
{
    setObjectName(QStringLiteral("FormInformations"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    CentreOnMonitor = true;
    Sizeable = true;

    pageControl_ = new QTabWidget(this);
    pageControl_->setObjectName(QStringLiteral("PageControl1"));
    pageControl_->setFont(ArialPixels(16));
    pageControl_->setAttribute(Qt::WA_Hover);
    tsInformations_ = new QWidget;
    tsInformations_->setObjectName(QStringLiteral("TSInformations"));
    tsRapports_ = new QWidget;
    tsRapports_->setObjectName(QStringLiteral("TSRapports"));
    tsOptions_ = new QWidget;
    tsOptions_->setObjectName(QStringLiteral("TSOptions"));
    tsData_ = new QWidget;
    tsData_->setObjectName(QStringLiteral("TSData"));
    pageControl_->addTab(tsInformations_, QStringLiteral("Informations"));
    pageControl_->addTab(tsRapports_, QStringLiteral("Rapports radiologiques"));
    pageControl_->addTab(tsOptions_, QStringLiteral("Options scan"));
    pageControl_->addTab(tsData_, QStringLiteral("Data DICOM"));

    CreateInformationsPage(tsInformations_);
    CreateReportsPage(tsRapports_);

    listView1_ = new QTreeWidget(tsOptions_);
    listView1_->setObjectName(QStringLiteral("ListView1"));
    listView1_->setColumnCount(1);
    listView1_->setHeaderLabels({QStringLiteral("Options")});
    listView1_->setRootIsDecorated(false);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView1_->setItemDelegate(new TInfoRowDelegate(false, listView1_));
    auto *optionsLayout = new QVBoxLayout(tsOptions_);
    optionsLayout->setContentsMargins(4, 4, 4, 4);
    optionsLayout->addWidget(listView1_);

    dataPage_ = new TDataDicomPage(tsData_);
    auto *dataLayout = new QVBoxLayout(tsData_);
    dataLayout->setContentsMargins(0, 0, 0, 0);
    dataLayout->addWidget(dataPage_);

    // The two bottom buttons share one place; each shows with its own page.
    speedButtonOldCases_ = new QToolButton(this);
    speedButtonOldCases_->setObjectName(QStringLiteral("SpeedButtonOldCases"));
    speedButtonOldCases_->setToolTip(QStringLiteral("Demande de cas antérieur"));
    speedButtonOldCases_->setIcon(OldCasesIcon());
    speedButtonDumpDataDicom_ = new QToolButton(this);
    speedButtonDumpDataDicom_->setObjectName(QStringLiteral("SpeedButtonDumpDataDicom"));
    speedButtonDumpDataDicom_->setToolTip(QStringLiteral("Exportation du data dicom"));
    speedButtonDumpDataDicom_->setIcon(DumpIcon());
    for (QToolButton *button : {speedButtonOldCases_, speedButtonDumpDataDicom_}) {
        button->setAutoRaise(true);
        button->setIconSize(QSize(24, 24));
        button->setFixedSize(32, 32);
        button->hide();
    }
    // The old-cases request has no action.
    connect(speedButtonDumpDataDicom_, &QToolButton::clicked, this, [this]() { SpeedButtonDumpDataDicomClick(); });

    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addStretch(1);
    bottom->addWidget(speedButtonOldCases_);
    bottom->addWidget(speedButtonDumpDataDicom_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(pageControl_, 1);
    layout->addLayout(bottom);

    // Window shortcuts: they act whatever the page and the focused control.
    actionEnter_ = new QAction(QStringLiteral("OK"), this);
    actionEnter_->setObjectName(QStringLiteral("ActionEnter"));
    actionEnter_->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    actionUp_ = new QAction(this);
    actionUp_->setObjectName(QStringLiteral("ActionUp"));
    actionUp_->setShortcut(QKeySequence(Qt::Key_Up));
    actionDown_ = new QAction(this);
    actionDown_->setObjectName(QStringLiteral("ActionDown"));
    actionDown_->setShortcut(QKeySequence(Qt::Key_Down));
    for (QAction *action : {actionEnter_, actionUp_, actionDown_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(actionEnter_, &QAction::triggered, this, [this]() { ActionEnterExecute(); });
    connect(actionUp_, &QAction::triggered, this, [this]() { ActionUpExecute(); });
    connect(actionDown_, &QAction::triggered, this, [this]() { ActionDownExecute(); });

    connect(pageControl_, &QTabWidget::currentChanged, this, [this]() {
        if (shown_)
            PageControl1Change();
    });
    resize(738, 765);
}

TFormInformations::~TFormInformations() = default;

void TFormInformations::CreateInformationsPage(QWidget *page)
{
    auto *panel = new QFrame(page);
    panel->setObjectName(QStringLiteral("PanelCommentaire"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    staticTextCommentaire_ = new QLabel(QStringLiteral("Le commentaire n'est pas modifiable"), panel);
    staticTextCommentaire_->setObjectName(QStringLiteral("StaticTextCommentaire"));
    staticTextCommentaire_->setAlignment(Qt::AlignCenter);
    staticTextCommentaire_->setFont(ArialPixels(16, true));
    staticTextCommentaire_->setAutoFillBackground(true);
    QPalette barPalette = staticTextCommentaire_->palette();
    barPalette.setColor(QPalette::Window, QColor(128, 128, 128));
    barPalette.setColor(QPalette::WindowText, Qt::white);
    staticTextCommentaire_->setPalette(barPalette);
    staticTextCommentaire_->hide();
    memoCommentaire_ = new QPlainTextEdit(panel);
    memoCommentaire_->setObjectName(QStringLiteral("MemoCommentaire"));
    memoCommentaire_->setReadOnly(true);
    memoCommentaire_->setFrameStyle(QFrame::NoFrame);
    memoCommentaire_->setFont(ArialPixels(16));
    memoCommentaire_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette memoPalette = memoCommentaire_->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
    memoCommentaire_->setPalette(memoPalette);
    memoCommentaire_->installEventFilter(this);
    auto *panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(staticTextCommentaire_);
    panelLayout->addWidget(memoCommentaire_);
    panel->setFixedHeight(150);

    auto *values = new QGridLayout;
    values->setHorizontalSpacing(24);
    values->setVerticalSpacing(10);
    int index = 0;
    for (const ValueRow &row : kValueRows) {
        auto *caption = new QLabel(QString::fromUtf8(row.caption), page);
        caption->setFont(ArialPixels(16));
        auto *value = new QLabel(page);
        value->setObjectName(QLatin1String(row.name));
        value->setFont(ArialPixels(16, true));
        value->setTextInteractionFlags(Qt::NoTextInteraction);
        value->setTextFormat(Qt::PlainText);
        auto *pair = new QVBoxLayout;
        pair->setSpacing(1);
        pair->addWidget(caption);
        pair->addWidget(value);
        if (index < 9)
            values->addLayout(pair, index, 0);
        else
            values->addLayout(pair, index - 9, 1);
        ++index;
    }
    values->setColumnStretch(0, 1);
    values->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(panel);
    layout->addSpacing(8);
    layout->addLayout(values);
    layout->addStretch(1);
}

void TFormInformations::CreateReportsPage(QWidget *page)
{
    auto *splitter = new TReportsSplitter(Qt::Vertical, page);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(12);
    splitter->setOpaqueResize(true);
    splitter->setChildrenCollapsible(false);
    listBoxReports_ = new QListWidget(splitter);
    listBoxReports_->setObjectName(QStringLiteral("ListBoxReports"));
    listBoxReports_->setFont(ArialPixels(16));
    listBoxReports_->setUniformItemSizes(true);
    listBoxReports_->setItemDelegate(new TInfoRowDelegate(true, listBoxReports_));
    memoReports_ = new QPlainTextEdit(splitter);
    memoReports_->setObjectName(QStringLiteral("MemoReports"));
    memoReports_->setReadOnly(true);
    memoReports_->setFont(ArialPixels(16));
    memoReports_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette memoPalette = memoReports_->palette();
    memoPalette.setColor(QPalette::Base, QColor(128, 128, 128));
    memoPalette.setColor(QPalette::Text, Qt::white);
    memoPalette.setColor(QPalette::Disabled, QPalette::Base, QColor(128, 128, 128));
    memoReports_->setPalette(memoPalette);
    splitter->addWidget(listBoxReports_);
    splitter->addWidget(memoReports_);
    splitter->setSizes({337, 300});
    splitter->setStretchFactor(1, 1);
    connect(listBoxReports_, &QListWidget::currentRowChanged, this, [this]() { ListBoxReportsClick(); });
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter);
}

QWidget *TFormInformations::Page(const QString &name) const
{
    for (QWidget *page : {tsInformations_, tsRapports_, tsOptions_, tsData_})
        if (page->objectName() == name)
            return page;
    return nullptr;
}

bool TFormInformations::PageTabVisible(const QString &name) const
{
    QWidget *page = Page(name);
    return page && pageControl_->isTabVisible(pageControl_->indexOf(page));
}

QString TFormInformations::ValueText(const QString &labelName) const
{
    auto *label = findChild<QLabel *>(labelName);
    return label ? label->text() : QString();
}

void TFormInformations::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    if (!shown_)
        FormShow();
}

void TFormInformations::FormShow()
{
    // The page changes of the showing itself show no bottom button.
    shown_ = false;
    setMinimumSize(size());
    studyUid_ = image_ ? image_->StudyUID() : QString();
    attributes_ = image_ ? image_->Attributes() : nullptr;
    pageControl_->setCurrentWidget(tsInformations_);
    pageControl_->setTabVisible(pageControl_->indexOf(tsRapports_), false);
    pageControl_->setTabVisible(pageControl_->indexOf(tsOptions_), false);
    dataPage_->SearchField()->clear();
    if (attributes_) {
        FillValues();
        ReadReports();
        FillScanOptions();
        dataPage_->Fill(*attributes_);
    }
    dataPage_->LayoutColumns();
    shown_ = true;
}

void TFormInformations::FillValues()
{
    const imaging::DicomAttributes &a = *attributes_;
    const bool demo = TemplateDM().HasOption(QStringLiteral("/DEMO"));
    auto set = [this](const char *name, const QString &text) {
        if (auto *label = findChild<QLabel *>(QLatin1String(name)))
            label->setText(text);
    };
    set("RV3DLabelDossier", image_->PatientID().trimmed());
    set("RV3DLabelNom", demo ? QStringLiteral("NOM PATIENT") : image_->Name().trimmed());
    set("RV3DLabelNaissance",
        loading::AttributeText(a, 0x0010, 0x0030).isEmpty() ? QString() : shell::ShortDate(image_->DateOfBirthAsDate()));
    set("RV3DLabelSexe", image_->Sex().trimmed());
    set("RV3DLabelTaillePoids", SizeWeightText(TextOf(a, 0x0010, 0x1020), TextOf(a, 0x0010, 0x1030)));
    set("RV3DLabelBodyPart", TextOf(a, 0x0018, 0x0015));
    set("RV3DLabelModality", loading::AttributeText(a, 0x0008, 0x0060));
    set("RV3DLabelStudyDesc", TextOf(a, 0x0008, 0x1030));
    QString strength;
    try {
        strength = FieldStrengthPrefix(TextOf(a, 0x0018, 0x0087));
    } catch (...) {
        strength.clear();
    }
    set("RV3DLabelMachine",
        strength + MachineText(TextOf(a, 0x0008, 0x0070), TextOf(a, 0x0008, 0x1090), TextOf(a, 0x0008, 0x1010)));
    const auto topRight = image_->Labels() ? image_->Labels()->Item(9) : nullptr;
    set("RV3DLabelAccession", topRight ? AccessionOf(topRight->Text()) : QString());
    set("RV3DLabelDateTime", TextOf(a, 0x0008, 0x0020) + QLatin1Char(' ') + TextOf(a, 0x0008, 0x0030));
    QString radiologist = QStringLiteral("NOM RADIOLOGISTE");
    if (!demo) {
        try {
            radiologist = loading::AttributeText(a, 0x0008, 0x1060);
        } catch (...) {
            radiologist = QStringLiteral("NOM RADIOLOGISTE");
        }
    }
    set("RV3DLabelRadiologiste", radiologist);
    QString technologist;
    try {
        const auto attribute = a.Item(0x0008, 0x1070);
        technologist = attribute ? attribute->ValueByIndex(1).toString() : QString();
    } catch (...) {
        technologist.clear();
    }
    set("RV3DLabelTechnologue", technologist);
    QString referring;
    try {
        referring = TextOf(a, 0x0008, 0x0090);
    } catch (...) {
        referring.clear();
    }
    set("RV3DLabelReferant", referring);
}

void TFormInformations::ReadReports()
{
    const QString accession = ValueText(QStringLiteral("RV3DLabelAccession"));
    if (accession.isEmpty())
        return;
    // Looked up in the program folder as written, else without regard to case; an
    // accession number that would name a file elsewhere names none.
    loading::FolderLookup lookup(TemplateDM().ProgramFolder);
    const QString path = lookup.Find({accession + QStringLiteral(".RAP")});
    if (path.isEmpty())
        return;
    reports_ = ParseReports(ReadReportsFile(path));
    for (std::size_t i = 0; i < reports_.size(); ++i) {
        auto *item = new QListWidgetItem(ReportItemText(reports_[i]), listBoxReports_);
        item->setData(TInfoRowDelegate::kStatusRole, reports_[i].Status);
        item->setData(Qt::UserRole, static_cast<int>(i));
    }
    if (!reports_.empty()) {
        listBoxReports_->setCurrentRow(0);
        ListBoxReportsClick();
        pageControl_->setTabVisible(pageControl_->indexOf(tsRapports_), true);
        pageControl_->setCurrentWidget(tsRapports_);
    }
}

void TFormInformations::FillScanOptions()
{
    const auto options = attributes_->Item(0x0018, 0x0022);
    if (!options)
        return;
    for (int i = 1; i <= 8; ++i) {
        const QString value = options->ValueByIndex(i).toString().trimmed();
        if (!value.isEmpty())
            new QTreeWidgetItem(listView1_, {value});
    }
    if (listView1_->topLevelItemCount() > 0)
        pageControl_->setTabVisible(pageControl_->indexOf(tsOptions_), true);
}

void TFormInformations::ListBoxReportsClick()
{
    const int row = listBoxReports_->currentRow();
    const QString memo = row >= 0 && row < static_cast<int>(reports_.size())
                             ? ReportMemoText(reports_[static_cast<std::size_t>(row)])
                             : QString();
    memoReports_->setPlainText(memo);
    memoReports_->setEnabled(!memo.isEmpty());
}

bool TFormInformations::event(QEvent *event)
{
    const bool result = TTemplate3::event(event);
    if (event->type() == QEvent::WindowActivate && shown_ && !closing_)
        FormActivate();
    return result;
}

void TFormInformations::FormActivate()
{
    CommentShown = false;
    memoCommentaire_->clear();
    const auto images = VisitData().VisitImages();
    imaging::DicomImagePtr carrier;
    for (int i = 1; images && i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        if (image && image->SeriesUID().contains(QLatin1String(common::kProductUidRoot))
            && image->StudyUID() == studyUid_) {
            carrier = image;
            break;
        }
    }
    if (carrier) {
        const auto attributes = carrier->Attributes();
        const auto flag = attributes->Item(0x0009, 0x0001);
        if (flag && flag->Exists()) {
            loading::DeclareCommentAttributes();
            if (loading::PrivateText(*attributes, 0x0009, 0x0001).toUpper() != QLatin1String("N")) {
                memoCommentaire_->setPlainText(loading::PrivateText(*attributes, 0x0009, 0x0003));
                CommentShown = true;
                staticTextCommentaire_->show();
                memoCommentaire_->setReadOnly(true);
                memoCommentaire_->setFont(ArialPixels(16, true));
            }
        } else {
            staticTextCommentaire_->hide();
            memoCommentaire_->setReadOnly(true);
            memoCommentaire_->setFont(ArialPixels(16));
        }
    }
    if (CommentShown) {
        const bool wasShown = shown_;
        shown_ = false;
        pageControl_->setCurrentWidget(tsInformations_);
        shown_ = wasShown;
        PageControl1Change();
    }
}

void TFormInformations::PageControl1Change()
{
    speedButtonOldCases_->hide();
    speedButtonDumpDataDicom_->hide();
    QWidget *page = pageControl_->currentWidget();
    if (page == tsRapports_) {
        speedButtonOldCases_->show();
    } else if (page == tsData_) {
        speedButtonDumpDataDicom_->show();
        dataPage_->SearchField()->setFocus();
    } else if (page == tsInformations_) {
        memoCommentaire_->setFocus();
    }
}

bool TFormInformations::eventFilter(QObject *watched, QEvent *event)
{
    // Enter belongs to the comment memo while it has the focus.
    if (watched == memoCommentaire_) {
        if (event->type() == QEvent::FocusIn)
            actionEnter_->setEnabled(false);
        else if (event->type() == QEvent::FocusOut)
            actionEnter_->setEnabled(true);
    }
    return TTemplate3::eventFilter(watched, event);
}

void TFormInformations::ActionEnterExecute() { dataPage_->Search(); }
void TFormInformations::ActionUpExecute() { dataPage_->RowUp(); }
void TFormInformations::ActionDownExecute() { dataPage_->RowDown(); }

void TFormInformations::SpeedButtonDumpDataDicomClick()
{
    // Named after the image whose data set the page lists.
    dataPage_->Export(image_ ? image_->InstanceUID() : QString());
}

void TFormInformations::resizeEvent(QResizeEvent *event)
{
    TTemplate3::resizeEvent(event);
    if (dataPage_)
        dataPage_->LayoutColumns();
}

void TFormInformations::closeEvent(QCloseEvent *event)
{
    TTemplate3::closeEvent(event);
    if (!event->isAccepted() || closing_)
        return;
    closing_ = true;
    if (!actionEnter_->isEnabled())
        actionEnter_->setEnabled(true);
    while (listBoxReports_->count() > 0)
        delete listBoxReports_->takeItem(listBoxReports_->count() - 1);
    reports_.clear();
    attributes_.reset();
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSEINFORMATIONS"));
}
