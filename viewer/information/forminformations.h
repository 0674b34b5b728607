#pragma once
// The information window: what is known about the image the user is looking at when
// the window opens (patient and study fields, the visit comment, the study's reports,
// the scan options and the whole data set). Opened and closed by the main window's
// TBInfos button, and by itself after loading when the visit carries a comment; it tells
// its closing with "WM_CLOSEINFORMATIONS", after which the main window frees it.

#include "imaging/imaging.h"
#include "viewer/information/reports.h"
#include "viewer/shell/forms.h"

#include <QSplitter>
#include <QSplitterHandle>
#include <QStyledItemDelegate>

#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;
class QToolButton;
class QTreeWidget;

namespace information {
class TDataDicomPage;

// The splitter between the reports list and the memo, drawn with two small triangles.
class TReportsSplitterHandle : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent *event) override;
};

class TReportsSplitter : public QSplitter
{
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle *createHandle() override { return new TReportsSplitterHandle(orientation(), this); }
};

// Rows of the reports list and of the scan options: alternating white and light blue,
// the selection in the system's colours; report rows with their status icon, in bold
// when the report has a text.
class TInfoRowDelegate : public QStyledItemDelegate
{
public:
    TInfoRowDelegate(bool reports, QObject *parent) : QStyledItemDelegate(parent), reports_(reports) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static constexpr int kStatusRole = Qt::UserRole + 1;

private:
    bool reports_;
};

// The 32 x 32 icon of a report status (0, 1, 2).
QPixmap ReportStatusIcon(int status);

} // namespace information

class TFormInformations : public TTemplate3
{
    Q_OBJECT
public:
    // `image`: the current image of the current frame; `openedTag`: TBInfos's tag (1 when
    // the window opens by itself after loading, 0 when the user asked for it).
    TFormInformations(imaging::DicomImagePtr image, int openedTag, QWidget *parent = nullptr);
    ~TFormInformations() override;

    int OpenedTag() const { return openedTag_; }
    bool CommentShown = false;
    const std::vector<information::TRapports> &Reports() const { return reports_; }

    // Handlers, by their names.
    void FormShow();
    void FormActivate();
    void PageControl1Change();
    void ListBoxReportsClick();
    void ActionEnterExecute();
    void ActionUpExecute();
    void ActionDownExecute();
    void SpeedButtonDumpDataDicomClick();

    // Components.
    QTabWidget *PageControl() const { return pageControl_; }
    QWidget *Page(const QString &name) const;
    bool PageTabVisible(const QString &name) const;
    QString ValueText(const QString &labelName) const;
    information::TDataDicomPage *DataPage() const { return dataPage_; }
    QPlainTextEdit *MemoCommentaire() const { return memoCommentaire_; }
    QLabel *StaticTextCommentaire() const { return staticTextCommentaire_; }
    QListWidget *ListBoxReports() const { return listBoxReports_; }
    QPlainTextEdit *MemoReports() const { return memoReports_; }
    QTreeWidget *ListView1() const { return listView1_; }
    QToolButton *SpeedButtonOldCases() const { return speedButtonOldCases_; }
    QToolButton *SpeedButtonDumpDataDicom() const { return speedButtonDumpDataDicom_; }
    QAction *ActionEnter() const { return actionEnter_; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void CreateInformationsPage(QWidget *page);
    void CreateReportsPage(QWidget *page);
    void FillValues();
    void ReadReports();
    void FillScanOptions();
    void ShowPage(QWidget *page);

    imaging::DicomImagePtr image_;
    int openedTag_ = 0;
    QString studyUid_;
    imaging::DicomAttributesPtr attributes_;
    std::vector<information::TRapports> reports_;
    bool shown_ = false;
    bool closing_ = false;

    QTabWidget *pageControl_ = nullptr;
    QWidget *tsInformations_ = nullptr;
    QWidget *tsRapports_ = nullptr;
    QWidget *tsOptions_ = nullptr;
    QWidget *tsData_ = nullptr;
    QLabel *staticTextCommentaire_ = nullptr;
    QPlainTextEdit *memoCommentaire_ = nullptr;
    QListWidget *listBoxReports_ = nullptr;
    QPlainTextEdit *memoReports_ = nullptr;
    QTreeWidget *listView1_ = nullptr;
    information::TDataDicomPage *dataPage_ = nullptr;
    QToolButton *speedButtonOldCases_ = nullptr;
    QToolButton *speedButtonDumpDataDicom_ = nullptr;
    QAction *actionEnter_ = nullptr;
    QAction *actionUp_ = nullptr;
    QAction *actionDown_ = nullptr;
};
