#include "viewer/dictation/template6.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The title panel: a horizontal gradient behind the title.
class TitlePanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        QLinearGradient g(0, 0, width(), 0);
        g.setColorAt(0, QColor(31, 58, 95));
        g.setColorAt(1, TTemplate6::GradientTop());
        p.fillRect(rect(), g);
    }
};

// A raised 3D title: the text drawn once in white one pixel up and left, then in dark
// grey one pixel down and right, then in its colour.
class RaisedLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setFont(font());
        const QRect r = contentsRect();
        p.setPen(Qt::white);
        p.drawText(r.translated(-1, -1), int(alignment()), text());
        p.setPen(QColor(64, 64, 64));
        p.drawText(r.translated(1, 1), int(alignment()), text());
        p.setPen(QColor(255, 255, 240));
        p.drawText(r, int(alignment()), text());
    }
};

} // namespace

TTemplate6::TTemplate6(const QString &title, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    auto *panel = new TitlePanel(this);
    panel->setObjectName(QStringLiteral("PanelTitre"));
    panel->setFixedHeight(40);
    auto *panelLayout = new QHBoxLayout(panel);
    title_ = new RaisedLabel(title, panel);
    title_->setObjectName(QStringLiteral("LabelTitre"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(18);
    font.setBold(true);
    title_->setFont(font);
    title_->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    panelLayout->addWidget(title_);
    layout->addWidget(panel);

    content_ = new QWidget(this);
    content_->setObjectName(QStringLiteral("PanelContenu"));
    content_->setAutoFillBackground(true);
    QPalette white = content_->palette();
    white.setColor(QPalette::Window, Qt::white);
    content_->setPalette(white);
    layout->addWidget(content_, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto button = [this, buttons](const QString &name, const QString &caption) {
        auto *b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(caption);
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumSize(90, 28);
        buttons->addWidget(b);
        return b;
    };
    confirm_ = button(QStringLiteral("SBConfirmer"), QStringLiteral("Confirmer"));
    cancel_ = button(QStringLiteral("SBAnnuler"), QStringLiteral("Annuler"));
    connect(confirm_, &QToolButton::clicked, this, [this] { Confirm(); });
    connect(cancel_, &QToolButton::clicked, this, [this] { Cancel(); });
    layout->addLayout(buttons);
    setWindowTitle(title);
}

int TTemplate6::ShowModal()
{
    ModalResult = mrNone;
    return RunModal(this, [this]() { return ModalResult == mrNone ? int(mrCancel) : ModalResult; });
}

void TTemplate6::CloseWithResult(int result)
{
    ModalResult = result;
    close();
}

void TTemplate6::showEvent(QShowEvent *event)
{
    setWindowTitle(shell::WindowCaption());
    if (!shownOnce_) {
        shownOnce_ = true;
        // The designed size is the smallest the dialog gets.
        setMinimumSize(size());
    }
    QWidget::showEvent(event);
}

bool TTemplate6::event(QEvent *event)
{
    if (event->type() == QEvent::Show && !placed_ && !event->spontaneous()) {
        // A single border, and the place on the last monitor, before the window is mapped:
        // never moved later under the mouse that activates it.
        const bool result = QWidget::event(event);
        placed_ = true;
        shell::FixBorder(this);
        shell::PlaceOnMonitor(this, 0);
        return result;
    }
    return QWidget::event(event);
}

void TTemplate6::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Minimizing the dialog minimizes the whole application; restoring it restores it.
    shell::FollowApplicationState(this, event);
}

void TTemplate6::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, GradientTop());
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(rect(), gradient);
}

void TTemplate6::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Confirm();
        return;
    case Qt::Key_Escape:
        Cancel();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
