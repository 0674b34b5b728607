#pragma once
// The open-visit dialog: every study of every catalogue in the program folder, with
// the study's thumbnails on a second page; deletes a visit (its own files, after
// asking); notices within a second when the catalogues of the folder change.

#include "viewer/loading/visitlisting.h"
#include "viewer/shell/forms.h"

#include <QTreeWidget>

#include <functional>

class QFrame;
class QLabel;
class QScrollArea;
class QTabWidget;
class QTimer;
class QToolButton;

class TFormOuvrirVisite : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormOuvrirVisite(QWidget *parent = nullptr);
    ~TFormOuvrirVisite() override;

    // The folder whose catalogues are listed (TemplateDM's ProgramFolder by default).
    void SetProgramFolder(const QString &folder) { programFolder_ = folder; }
    const QString &ProgramFolder() const { return programFolder_; }
    // Whether a folder lies on a CD-ROM drive (the platform's check by default).
    void SetCdRomCheck(std::function<bool(const QString &)> check) { isCdRom_ = std::move(check); }

    // Fills the list and shows the dialog modally; a catalogue that cannot be read
    // shows the component's error text and answers mrCancel without showing.
    int Execute();
    // Fills the list anew (FormShow, "Rafraîchir", after a deletion). False when a
    // catalogue could not be read (the error has been shown).
    bool ShowList();

    // Results, valid after OK.
    QString PatientID() const { return patientId_; }
    QString StudyUID() const { return studyUid_; }
    QString Catalogue() const { return catalogue_; }

    // Commands.
    void OKClick();
    void CancelClick();
    void EffacerClick();
    void RafraichirClick();
    // One tick of the folder watch.
    void TimerTick();
    // A click on a column header.
    void SortByColumn(int column);
    // The question asked before a visit is deleted, naming its patient and study.
    static QString DeletionQuestion(const loading::VisitRow &row);
    // True under the "/DEMO" option: names are shown as "NOM PATIENT".
    static bool DemoOption();
    // Shows the "Images" page (fills it).
    void ShowImagesPage();

    // Widgets, for tests.
    QTreeWidget *List() const { return list_; }
    QToolButton *RafraichirButton() const { return rafraichir_; }
    QFrame *Notice() const { return notice_; }
    QTabWidget *Pages() const { return pages_; }
    QScrollArea *ThumbnailBox() const { return thumbnailBox_; }
    QTimer *WatchTimer() const { return timer_; }
    const loading::VisitListing &Listing() const { return listing_; }
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortColumn_ >= 0 && ascending_[sortColumn_]; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FillRows();
    void Log(const QString &text) const;
    void Message(const QString &text, int kind) const;

    QString programFolder_;
    std::function<bool(const QString &)> isCdRom_;
    QString patientId_;
    QString studyUid_;
    QString catalogue_ = QStringLiteral("DICOMDIR");

    QToolButton *ok_ = nullptr;
    QToolButton *annuler_ = nullptr;
    QToolButton *effacer_ = nullptr;
    QToolButton *rafraichir_ = nullptr;
    QFrame *notice_ = nullptr;
    QTabWidget *pages_ = nullptr;
    QTreeWidget *list_ = nullptr;
    QScrollArea *thumbnailBox_ = nullptr;
    QTimer *timer_ = nullptr;

    loading::VisitListing listing_;
    int sortColumn_ = -1;
    bool ascending_[loading::kVisitColumnCount] = {};
};

namespace loading {
// Whether `folder` lies on a CD or DVD (iso9660 or udf file system, or an sr device).
bool FolderIsOnCdRom(const QString &folder);
}
