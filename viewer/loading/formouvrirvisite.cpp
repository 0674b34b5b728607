#include "viewer/loading/formouvrirvisite.h"

#include "platform/cddrives.h"
#include "platform/screeninfo.h"
#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdeletion.h"
#include "viewer/shell/screengeometry.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

using loading::VisitRow;

namespace {

constexpr int kRowIndexRole = Qt::UserRole + 1;

// A row of the list; it sorts by its column's text followed by "Nom".
class VisitItem : public QTreeWidgetItem
{
public:
    VisitItem(QTreeWidget *parent, const VisitRow &row) : QTreeWidgetItem(parent), row_(row)
    {
        for (int c = 0; c < loading::kVisitColumnCount; ++c)
            setText(c, row[c]);
    }
    const VisitRow &Row() const { return row_; }
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return loading::CompareRows(row_, static_cast<const VisitItem &>(other).row_, column) < 0;
    }

private:
    VisitRow row_;
};

QToolButton *FlatButton(QWidget *parent, const QString &text, QStyle::StandardPixmap icon)
{
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFixedSize(65, 57);
    return button;
}

} // namespace

namespace loading {

// The platform's CD drive layer is the one place that knows what a CD is.
bool FolderIsOnCdRom(const QString &folder) { return platform::FolderIsOnCdRom(folder); }

} // namespace loading

TFormOuvrirVisite::TFormOuvrirVisite(QWidget *parent) : TTemplate3(parent)
{
    Log(QStringLiteral("TFORMOUVRIRVISITE.FORMCREATE Begin"));
    setObjectName(QStringLiteral("FormOuvrirVisite"));
    Monitor = 1;
    Sizeable = true;
    setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        programFolder_ = dm->ProgramFolder;
        const int monitors = shell::PlacementMonitorCount(dm->Screens(), dm->ReadMachineInteger(QStringLiteral("Monitors")));
        resize(int(std::lround(dm->DesktopWidth() / double(monitors) / 1.5)),
               int(std::lround(dm->Screens().DesktopSize().height() / 1.5)));
    } else {
        resize(853, 683);
    }
    isCdRom_ = &loading::FolderIsOnCdRom;

    auto *layout = new QVBoxLayout(this);
    auto *buttons = new QHBoxLayout;
    ok_ = FlatButton(this, QStringLiteral("OK"), QStyle::SP_DialogOkButton);
    annuler_ = FlatButton(this, QStringLiteral("Annuler"), QStyle::SP_DialogCancelButton);
    effacer_ = FlatButton(this, QStringLiteral("Effacer"), QStyle::SP_TrashIcon);
    rafraichir_ = FlatButton(this, QStringLiteral("Rafraîchir"), QStyle::SP_BrowserReload);
    rafraichir_->setObjectName(QStringLiteral("SBRafraichir"));
    rafraichir_->hide();
    for (QToolButton *b : {ok_, annuler_, effacer_, rafraichir_})
        buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);

    notice_ = new QFrame(this);
    notice_->setObjectName(QStringLiteral("PanelNotice"));
    notice_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    notice_->setLineWidth(2);
    auto *noticeLayout = new QVBoxLayout(notice_);
    auto *noticeText = new QLabel(
        QStringLiteral("Votre liste de travail à été modifiée. Veuillez appuyer sur le bouton \"Rafraîchir\" ."), notice_);
    QFont noticeFont(QStringLiteral("Arial"));
    noticeFont.setPointSize(12);
    noticeFont.setBold(true);
    noticeText->setFont(noticeFont);
    noticeText->setAlignment(Qt::AlignCenter);
    noticeText->setWordWrap(true);
    QPalette noticePalette = noticeText->palette();
    noticePalette.setColor(QPalette::WindowText, Qt::red);
    noticeText->setPalette(noticePalette);
    noticeLayout->addWidget(noticeText);
    notice_->hide();
    layout->addWidget(notice_);

    pages_ = new QTabWidget(this);
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("ListViewVisites"));
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setAlternatingRowColors(true);
    QPalette listPalette = list_->palette();
    listPalette.setColor(QPalette::Base, Qt::white);
    listPalette.setColor(QPalette::AlternateBase, QColor(234, 244, 255));
    list_->setPalette(listPalette);
    list_->setColumnCount(loading::kVisitColumnCount);
    QStringList captions;
    for (int c = 0; c < loading::kVisitColumnCount; ++c)
        captions << QString::fromUtf8(loading::VisitColumnAt(c).caption);
    list_->setHeaderLabels(captions);
    for (int c = 0; c < loading::kVisitColumnCount; ++c) {
        if (loading::VisitColumnAt(c).width > 0)
            list_->setColumnWidth(c, loading::VisitColumnAt(c).width);
    }
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(false);
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { SortByColumn(c); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this]() { OKClick(); });
    pages_->addTab(list_, QStringLiteral("Visites"));

    thumbnailBox_ = new QScrollArea;
    thumbnailBox_->setObjectName(QStringLiteral("ScrollBoxImages"));
    thumbnailBox_->setWidgetResizable(false);
    thumbnailBox_->setWidget(new QWidget);
    pages_->addTab(thumbnailBox_, QStringLiteral("Images"));
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            ShowImagesPage();
    });
    layout->addWidget(pages_, 1);

    connect(ok_, &QToolButton::clicked, this, [this]() { OKClick(); });
    connect(annuler_, &QToolButton::clicked, this, [this]() { CancelClick(); });
    connect(effacer_, &QToolButton::clicked, this, [this]() { EffacerClick(); });
    connect(rafraichir_, &QToolButton::clicked, this, [this]() { RafraichirClick(); });

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this]() { TimerTick(); });
    timer_->start();
    Log(QStringLiteral("TFORMOUVRIRVISITE.FORMCREATE End"));
}

TFormOuvrirVisite::~TFormOuvrirVisite()
{
    timer_->stop();
    if (listing_.thumbnails)
        listing_.thumbnails->Clear();
}

void TFormOuvrirVisite::Log(const QString &text) const
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->WriteLog(text);
}

void TFormOuvrirVisite::Message(const QString &text, int kind) const
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->ShowMessageDialog(text, TMsgDlgType(kind), mbOK);
}

int TFormOuvrirVisite::Execute()
{
    Log(QStringLiteral("TFORMOUVRIRVISITE.FORMSHOW Begin"));
    const bool filled = ShowList();
    Log(QStringLiteral("TFORMOUVRIRVISITE.FORMSHOW End"));
    if (!filled) {
        catalogue_.clear();
        studyUid_.clear();
        return mrCancel;
    }
    return ShowModal();
}

bool TFormOuvrirVisite::ShowList()
{
    catalogue_ = QStringLiteral("DICOMDIR");
    list_->clear();
    try {
        listing_ = loading::ReadVisitListing(programFolder_, [this](const QString &t) { Log(t); });
    } catch (const std::exception &error) {
        listing_ = loading::VisitListing();
        Log(QStringLiteral("TFORMOUVRIRVISITE.FORMSHOW Error ") + imaging::ErrorLogText(error));
        Message(QString::fromUtf8(error.what()), int(TMsgDlgType::mtError));
        return false;
    }
    // A catalogue deleted because its visits are gone is no change to warn about.
    for (const QString &gone : listing_.deletedCatalogues)
        listing_.catalogueNames.removeAll(gone);
    FillRows();
    pages_->setCurrentIndex(0);
    std::fill(std::begin(ascending_), std::end(ascending_), false);
    sortColumn_ = -1;
    SortByColumn(loading::colDateHeure);
    SortByColumn(loading::colDateHeure);
    return true;
}

void TFormOuvrirVisite::FillRows()
{
    const QIcon personIcon = style()->standardIcon(QStyle::SP_FileDialogInfoView);
    for (const VisitRow &row : listing_.rows) {
        auto *item = new VisitItem(list_, row);
        if (DemoOption())
            item->setText(loading::colNom, QStringLiteral("NOM PATIENT"));
        if (!row[loading::colDossier].isEmpty())
            item->setIcon(loading::colDossier, personIcon);
        if (!row[loading::colReferant].isEmpty())
            item->setIcon(loading::colReferant, personIcon);
    }
}

void TFormOuvrirVisite::SortByColumn(int column)
{
    if (column < 0 || column >= loading::kVisitColumnCount)
        return;
    ascending_[column] = !ascending_[column];
    sortColumn_ = column;
    const Qt::SortOrder order = ascending_[column] ? Qt::AscendingOrder : Qt::DescendingOrder;
    list_->header()->setSortIndicatorShown(true);
    list_->header()->setSortIndicator(column, order);
    list_->sortItems(column, order);
}

void TFormOuvrirVisite::OKClick()
{
    if (list_->topLevelItemCount() == 0) {
        Message(QStringLiteral("Il n'y a aucune visite disponible."), int(TMsgDlgType::mtInformation));
        return;
    }
    QTreeWidgetItem *item = list_->selectedItems().isEmpty() ? nullptr : list_->selectedItems().first();
    if (!item)
        item = list_->itemAt(0, 0);
    if (!item)
        item = list_->topLevelItem(0);
    const VisitRow &row = static_cast<VisitItem *>(item)->Row();
    patientId_ = row[loading::colDossier];
    studyUid_ = row[loading::colEtudeUid];
    catalogue_ = row[loading::colDicomDir];
    CloseWithResult(mrOk);
}

void TFormOuvrirVisite::CancelClick()
{
    catalogue_.clear();
    studyUid_.clear();
    CloseWithResult(mrCancel);
}

bool TFormOuvrirVisite::DemoOption()
{
    // A demonstration never shows a patient's name, here as in the corner texts.
    const TTemplateDM *dm = TemplateDMIfAny();
    return dm && dm->HasOption(QStringLiteral("/DEMO"));
}

QString TFormOuvrirVisite::DeletionQuestion(const VisitRow &row)
{
    QString patient = DemoOption() ? QStringLiteral("NOM PATIENT") : row[loading::colNom].trimmed();
    if (!row[loading::colDossier].isEmpty())
        patient += QStringLiteral(" (%1)").arg(row[loading::colDossier]);
    QString study = row[loading::colDescription].trimmed();
    const QString when = row[loading::colDateHeure].trimmed();
    if (!when.isEmpty())
        study += study.isEmpty() ? when : QStringLiteral(" du %1").arg(when);
    if (!row[loading::colAccession].isEmpty())
        study += QStringLiteral(", accession %1").arg(row[loading::colAccession]);
    return QStringLiteral("Désirez-vous vraiment effacer cette visite?\r\rPatient : %1\rEtude : %2").arg(patient, study);
}

void TFormOuvrirVisite::EffacerClick()
{
    if (isCdRom_ && isCdRom_(programFolder_)) {
        Message(QStringLiteral("Vous ne pouvez pas effacer une visite qui est sur un lecteur CD-ROM."),
                int(TMsgDlgType::mtError));
        return;
    }
    if (list_->selectedItems().isEmpty()) {
        Message(QStringLiteral("Vous devez sélectionner une visite avant."), int(TMsgDlgType::mtError));
        return;
    }
    // A copy: filling the list anew frees the items.
    const VisitRow row = static_cast<VisitItem *>(list_->selectedItems().first())->Row();
    const QString chemin = row[loading::colChemin];
    bool unsafe = false;
    if (!chemin.isEmpty())
        loading::VisitFolderPath(programFolder_, chemin, &unsafe);
    if (chemin.isEmpty() || unsafe) {
        // Never the program folder itself, nor anything outside it.
        Message(QStringLiteral("Impossible de supprimer le répertoire racine."), int(TMsgDlgType::mtError));
        ShowList();
        return;
    }

    // A patient's study deleted is not undone: ask first.
    TTemplateDM *dm = TemplateDMIfAny();
    if (!dm || dm->ShowMessageDialog(DeletionQuestion(row), TMsgDlgType::mtConfirmation, mbYes | mbNo) != mrYes)
        return;

    loading::VisitToDelete visit;
    visit.catalogue = row[loading::colDicomDir];
    visit.patientIndex = row.patientIndex;
    visit.studyIndex = row.studyIndex;
    visit.patientId = row[loading::colDossier];
    visit.studyUid = row[loading::colEtudeUid];
    const loading::VisitDeletionPlan plan = loading::PlanVisitDeletion(programFolder_, visit);
    switch (plan.refusal) {
    case loading::VisitDeletionPlan::None:
        break;
    case loading::VisitDeletionPlan::Unreadable:
        Message(plan.errorText, int(TMsgDlgType::mtError));
        return;
    case loading::VisitDeletionPlan::OutsideFolder:
        Message(QStringLiteral("Impossible de supprimer le répertoire racine."), int(TMsgDlgType::mtError));
        ShowList();
        return;
    case loading::VisitDeletionPlan::Changed:
        // The catalogue changed since the list was filled: the new list lets the user choose again.
        Message(QStringLiteral("La suppression n'a pas fonctionnée. Veuillez recommencer."), int(TMsgDlgType::mtError));
        ShowList();
        return;
    }

    const loading::VisitDeletionResult result = loading::ExecuteVisitDeletion(programFolder_, plan);
    Log(QStringLiteral("TFORMOUVRIRVISITE.EFFACERCLICK PatientID = %1, StudyUID = %2, DICOMDIR = %3: %4 files deleted, "
                       "%5 kept for other visits, %6 kept as not DICOM, catalogue %7")
            .arg(visit.patientId, visit.studyUid, visit.catalogue)
            .arg(result.deletedFiles.size())
            .arg(plan.sharedKept.size())
            .arg(plan.otherKept.size())
            .arg(result.catalogueDeleted ? QStringLiteral("deleted") : QStringLiteral("kept")));
    for (const QString &failed : result.failed)
        Log(QStringLiteral("TFORMOUVRIRVISITE.EFFACERCLICK Not deleted: %1").arg(failed));
    if (!result.ok()) {
        Message(QStringLiteral("La suppression n'a pas fonctionnée. Veuillez recommencer."), int(TMsgDlgType::mtError));
        ShowList();
        return;
    }
    // Every file the study names that stays on disk is told of.
    QStringList kept;
    if (!plan.sharedKept.isEmpty())
        kept << QStringLiteral("Les images de cette visite qu'une autre visite utilise aussi ont été conservées.");
    if (!plan.otherKept.isEmpty()) {
        QStringList names;
        for (const QString &file : plan.otherKept.mid(0, 5))
            names << QDir::toNativeSeparators(file);
        if (plan.otherKept.size() > 5)
            names << QStringLiteral("...");
        kept << QStringLiteral("Les fichiers suivants de cette visite ne sont pas des images DICOM et ont été "
                               "conservés (%1) :\r%2")
                    .arg(plan.otherKept.size())
                    .arg(names.join(QLatin1Char('\r')));
    }
    if (!kept.isEmpty())
        Message(kept.join(QStringLiteral("\r\r")), int(TMsgDlgType::mtInformation));
    ShowList();
}

void TFormOuvrirVisite::RafraichirClick()
{
    rafraichir_->hide();
    notice_->hide();
    ShowList();
}

void TFormOuvrirVisite::TimerTick()
{
    timer_->stop();
    const QStringList names = loading::DicomDirNames(programFolder_);
    QCoreApplication::processEvents();
    if (names.join(QLatin1Char('\n')) != listing_.catalogueNames.join(QLatin1Char('\n'))) {
        rafraichir_->show();
        notice_->show();
    }
    timer_->start();
}

void TFormOuvrirVisite::ShowImagesPage()
{
    QWidget *content = new QWidget;
    content->setStyleSheet(QString());
    if (list_->topLevelItemCount() == 0) {
        thumbnailBox_->setWidget(content);
        return;
    }
    if (list_->selectedItems().isEmpty())
        list_->topLevelItem(0)->setSelected(true);
    const QString studyUid = static_cast<VisitItem *>(list_->selectedItems().first())->Row()[loading::colEtudeUid];
    const int perLine = std::max(1, thumbnailBox_->viewport()->width() / 108);
    int placed = 0;
    const auto &thumbnails = listing_.thumbnails;
    for (int i = 1; thumbnails && i <= thumbnails->Count(); ++i) {
        const auto image = thumbnails->Item(i);
        if (image->StudyUID() != studyUid)
            continue;
        auto *panel = new QFrame(content);
        panel->setObjectName(QStringLiteral("Thumbnail%1").arg(placed + 1));
        panel->setFrameStyle(QFrame::Box | QFrame::Plain);
        panel->setLineWidth(1);
        panel->setGeometry(8 + (placed % perLine) * 108, 8 + (placed / perLine) * 108, 100, 100);
        auto *panelLayout = new QVBoxLayout(panel);
        panelLayout->setContentsMargins(1, 1, 1, 1);
        try {
            imaging::DicomViewerLight *control = loading::NewViewerControl(panel);
            auto images = loading::NewImages();
            image->SetStretchToFit(true); // the icon fills its panel
            // Icons are 8-bit pictures made for display: shown as stored (0 black, 255 white), not windowed
            // on their own range, which would turn a low-contrast icon white.
            image->SetWidth(256);
            image->SetLevel(128);
            images->Add(image);
            control->SetImages(images);
            control->SetCellSpacing(4);
            control->SetBackColour(0);
            control->SetCurrentIndex(1);
            panelLayout->addWidget(control);
        } catch (const std::exception &) {
            // No control: the panel stays empty.
        }
        ++placed;
    }
    const int lines = (placed + perLine - 1) / perLine;
    content->resize(thumbnailBox_->viewport()->width(), std::max(thumbnailBox_->viewport()->height(), 8 + lines * 108));
    thumbnailBox_->setWidget(content);
}

void TFormOuvrirVisite::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OKClick();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        CancelClick();
        return;
    }
    TTemplate3::keyPressEvent(event);
}
