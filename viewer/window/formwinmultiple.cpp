#include "viewer/window/formwinmultiple.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QShowEvent>
#include <QLabel>
#include <QPainter>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A small picture of a grid of columns x rows cells.
QIcon GridIcon(int columns, int rows, const QColor &cell)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.fillRect(QRect(2, 2, 28, 28), QColor(20, 20, 20));
    const double w = 26.0 / columns, h = 26.0 / rows;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            p.fillRect(QRectF(3 + c * w + 0.5, 3 + r * h + 0.5, std::max(1.0, w - 1), std::max(1.0, h - 1)), cell);
    p.setPen(QColor(90, 90, 90));
    p.drawRect(QRect(2, 2, 27, 27));
    return QIcon(pixmap);
}

} // namespace

TFormWinMultiple::TFormWinMultiple(QWidget *parent) : TTemplate3(parent)
{
    setObjectName(QStringLiteral("FormWinMultiple"));
    setWindowTitle(QStringLiteral("Personnaliser Colonnes/Lignes"));
    CloseOnRightClick = false;
    auto *layout = new QVBoxLayout(this);

    auto group = [this, layout](const QString &title, const QString &prefix, QSpinBox *&columns, QSpinBox *&rows,
                        const QColor &colour, bool series) {
        auto *box = new QGroupBox(title, this);
        auto *grid = new QGridLayout(box);
        for (int i = 0; i < 9; ++i) {
            const int c = kPresets[i][0], r = kPresets[i][1];
            auto *button = new QToolButton(box);
            button->setObjectName(QStringLiteral("%1%2x%3").arg(prefix).arg(c).arg(r));
            button->setIcon(GridIcon(c, r, colour));
            button->setIconSize(QSize(32, 32));
            button->setToolTip(QStringLiteral("%1 x %2").arg(c).arg(r));
            grid->addWidget(button, i / 5, i % 5);
            connect(button, &QToolButton::clicked, this, [this, c, r, series] {
                if (series)
                    SeriesPreset(c, r);
                else
                    ImagePresetClick(c, r);
            });
        }
        columns = new QSpinBox(box);
        rows = new QSpinBox(box);
        auto *edits = new QHBoxLayout;
        edits->addWidget(new QLabel(QStringLiteral("Colonnes"), box));
        edits->addWidget(columns);
        edits->addWidget(new QLabel(QStringLiteral("Lignes"), box));
        edits->addWidget(rows);
        grid->addLayout(edits, 2, 0, 1, 5);
        layout->addWidget(box);
    };
    group(QStringLiteral("Séries"), QStringLiteral("SBSerie"), SpinEditSerieColonne, SpinEditSerieLigne,
          QColor(255, 128, 0), true);
    group(QStringLiteral("Images"), QStringLiteral("SBImage"), SpinEditImageColonne, SpinEditImageLigne,
          QColor(158, 210, 253), false);
    SpinEditSerieColonne->setObjectName(QStringLiteral("SpinEditSerieColonne"));
    SpinEditSerieLigne->setObjectName(QStringLiteral("SpinEditSerieLigne"));
    SpinEditImageColonne->setObjectName(QStringLiteral("SpinEditImageColonne"));
    SpinEditImageLigne->setObjectName(QStringLiteral("SpinEditImageLigne"));
    SpinEditSerieColonne->setRange(1, 8);
    // Up to 8 rows from the start: the box is filled with the layout in force before the
    // dialog shows.
    SpinEditSerieLigne->setRange(1, 8);
    SpinEditImageColonne->setRange(1, 1);
    SpinEditImageLigne->setRange(1, 1);

    auto *buttons = new QHBoxLayout;
    SBOK = new QToolButton(this);
    SBOK->setObjectName(QStringLiteral("SBOK"));
    SBOK->setText(QStringLiteral("Appliquer"));
    SBCancel = new QToolButton(this);
    SBCancel->setObjectName(QStringLiteral("SBCancel"));
    SBCancel->setText(QStringLiteral("Annuler"));
    for (QToolButton *b : {SBOK, SBCancel}) {
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumSize(100, 30);
    }
    buttons->addStretch();
    buttons->addWidget(SBOK);
    buttons->addWidget(SBCancel);
    layout->addLayout(buttons);
    connect(SBOK, &QToolButton::clicked, this, [this] { CloseWithResult(mrOk); });
    connect(SBCancel, &QToolButton::clicked, this, [this] { CloseWithResult(mrCancel); });
    adjustSize();
    setMinimumSize(size());
}

QToolButton *TFormWinMultiple::Preset(const QString &name) const
{
    return findChild<QToolButton *>(name);
}

void TFormWinMultiple::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    // Filled when the dialog opens; restored after minimizing, it keeps what was changed.
    if (event->spontaneous())
        return;
    ImagePreset = false;
    SpinEditImageColonne->setMaximum(std::max(1, ImageCount));
    SpinEditImageLigne->setMaximum(std::max(1, ImageCount));
    SpinEditImageColonne->setValue(ImageColumns);
    SpinEditImageLigne->setValue(ImageRows);
}

void TFormWinMultiple::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        CloseWithResult(mrOk);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        CloseWithResult(mrCancel);
        return;
    }
    TTemplate3::keyPressEvent(event);
}

void TFormWinMultiple::SeriesPreset(int columns, int rows)
{
    SpinEditSerieColonne->setValue(columns);
    SpinEditSerieLigne->setValue(rows);
    CloseWithResult(mrOk);
}

void TFormWinMultiple::ImagePresetClick(int columns, int rows)
{
    // The spin edits keep the values within the number of images.
    SpinEditImageColonne->setValue(columns);
    SpinEditImageLigne->setValue(rows);
    ImagePreset = true;
    CloseWithResult(mrOk);
}
