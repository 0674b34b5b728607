#include "viewer/window/formchildmdi.h"

#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace {
const QString kFramePrefix = QStringLiteral("FrameDicomViewer");
}

TFormChildMDI::TFormChildMDI(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FormChildMDI"));
    resize(360, 320);
    scrollBox_ = new QWidget(this);
    scrollBox_->setObjectName(QStringLiteral("ScrollBox"));
    scrollBox_->setAutoFillBackground(true);
    QPalette p = scrollBox_->palette();
    p.setColor(QPalette::Window, Qt::black);
    scrollBox_->setPalette(p);
    scrollBox_->setGeometry(rect());
}

TFormChildMDI::~TFormChildMDI()
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSECHILDMDI"));
}

QList<TFrameDicomViewer *> TFormChildMDI::Frames() const
{
    return scrollBox_->findChildren<TFrameDicomViewer *>(QString(), Qt::FindDirectChildrenOnly);
}

int TFormChildMDI::NextFrameNumber() const
{
    const auto frames = Frames();
    if (frames.isEmpty())
        return 1;
    return frames.last()->objectName().mid(kFramePrefix.size()).toInt() + 1;
}

TFrameDicomViewer *TFormChildMDI::CreateFrame()
{
    const int number = NextFrameNumber();
    auto *frame = new TFrameDicomViewer(scrollBox_);
    frame->setObjectName(kFramePrefix + QString::number(number));
    frame->IsActive = false;
    frame->CurrentImageIndex = 1;
    return frame;
}

void TFormChildMDI::LayoutFrames()
{
    const auto frames = Frames();
    if (frames.isEmpty())
        return;
    const QSize client = scrollBox_->size();
    const int cellWidth = client.width() / std::max(1, SeriesColumns);
    const int cellHeight = client.height() / std::max(1, SeriesRows);
    int left = 0, top = 0, n = 1;
    for (TFrameDicomViewer *frame : frames) {
        frame->setGeometry(left, top, cellWidth, cellHeight);
        frame->show();
        if (n % SeriesColumns == 0) {
            left = 0;
            top += cellHeight;
        } else {
            left += cellWidth;
        }
        ++n;
    }
    scrollBox_->show();
}

void TFormChildMDI::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    scrollBox_->setGeometry(rect());
    LayoutFrames();
}

TFormChildMDI *ShowVisitInChildWindow(QMdiArea *area, const TVisitData &visit, const QString &firstKey,
                                      const QString &secondKey, TFrameDicomViewer **current)
{
    auto *child = new TFormChildMDI;
    child->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow *sub = area->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    child->ScrollBox()->hide();
    child->FirstKey = firstKey;
    TFrameDicomViewer *first = child->CreateFrame();
    first->FillSeries(visit, firstKey);
    first->MarkImage(true);
    first->IsActive = true;
    if (!secondKey.isEmpty()) {
        TFrameDicomViewer *second = child->CreateFrame();
        second->FillSeries(visit, secondKey);
        second->MarkImage(false);
    }
    sub->showMaximized();
    child->ScrollBox()->show();
    child->LayoutFrames();
    first->setFocus();
    if (current)
        *current = first;
    return child;
}
