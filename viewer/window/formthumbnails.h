#pragma once
// The thumbnails window: every series of the visit as a small picture, under a header
// per study, in a scroll box at the right edge of the desktop. A click on a series shows
// it in the current frame; in stack mode a click on a picture shows its whole study.
// Closing it posts "WM_CLOSETHUMBNAILS".

#include "imaging/imaging.h"
#include "viewer/shell/forms.h"

#include <QList>
#include <QPointer>

class QFrame;
class QLabel;
class QScrollArea;
class TFormViewer;
namespace imaging {
class DicomViewerLight;
}

class TFormThumbnails : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormThumbnails(TFormViewer &viewer, QWidget *parent = nullptr);
    ~TFormThumbnails() override;

    static constexpr int kThumbnailSize = 110;
    static constexpr int kSelectedColour = 0x80FF; // orange

    QScrollArea *ScrollBox1 = nullptr;
    // The study headers and the series panels, in the order built.
    const QList<QFrame *> &HeaderPanels() const { return headers_; }
    const QList<QFrame *> &SeriesPanels() const { return panels_; }
    // The series panel last clicked (null at first).
    QFrame *SelectedPanel() const { return selected_; }
    static QLabel *PanelLabel(QFrame *panel);
    static imaging::DicomViewerLight *PanelViewer(QFrame *panel);

    // Places the window by the main window and builds the thumbnails (run when shown).
    void FormShow();
    // The thumbnail click: `onPicture` when it fell on the panel's imaging control.
    void ThumbnailClick(QFrame *panel, bool onPicture);
    // Scrolls the scroll box one line down (+1) or up (-1).
    void ScrollLine(int direction);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Build();
    QFrame *AddHeader(const imaging::DicomImage &image, int y);
    QFrame *AddSeriesPanel(const imaging::DicomImagePtr &image, int index, int y);
    void Route(QWidget *widget, QFrame *panel);

    TFormViewer &viewer_;
    QWidget *content_ = nullptr;
    QList<QFrame *> headers_;
    QList<QFrame *> panels_;
    QPointer<QFrame> selected_;
    bool closing_ = false;
};
