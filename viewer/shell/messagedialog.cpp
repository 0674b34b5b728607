#include "viewer/shell/messagedialog.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

QMessageBox::Icon IconOf(TMsgDlgType kind)
{
    switch (kind) {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QStringList SplitLines(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    return text.split(breaks);
}

int WidestLine(const QStringList &lines, const QFont &font)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

} // namespace

QString TKorvaneMessageBox::Caption(TMsgDlgType kind)
{
    switch (kind) {
    case TMsgDlgType::mtWarning: return QStringLiteral("Avertissement");
    case TMsgDlgType::mtError: return QStringLiteral("Erreur");
    case TMsgDlgType::mtInformation: return QStringLiteral("Information");
    case TMsgDlgType::mtConfirmation: return QStringLiteral("Confirmation");
    }
    return QString();
}

TKorvaneMessageBox::TKorvaneMessageBox(const QString &text, TMsgDlgType kind,
                                       TMsgDlgButtons buttons, QWidget *parent)
    : QMessageBox(parent), lines_(SplitLines(text))
{
    setIcon(IconOf(kind));
    setWindowTitle(Caption(kind));
    setTextFormat(Qt::PlainText);
    setText(lines_.join(QLatin1Char('\n')));
    // Buttons in the order they are offered: the first one gets the mouse.
    const auto offer = [this](QMessageBox::StandardButton button) {
        QPushButton *added = addButton(button);
        if (!firstButton_)
            firstButton_ = added;
    };
    if (buttons & mbYes)
        offer(QMessageBox::Yes);
    if (buttons & mbNo)
        offer(QMessageBox::No);
    if (buttons & mbOK)
        offer(QMessageBox::Ok);
    if (buttons & mbCancel)
        offer(QMessageBox::Cancel);
    if (!firstButton_)
        offer(QMessageBox::Ok);
    setDefaultButton(firstButton_);
}

int TKorvaneMessageBox::TextHeight() const
{
    return QFontMetrics(font()).height();
}

int TKorvaneMessageBox::Result() const
{
    QAbstractButton *button = clickedButton();
    switch (button ? standardButton(button) : QMessageBox::NoButton) {
    case QMessageBox::Ok: return mrOk;
    case QMessageBox::Yes: return mrYes;
    case QMessageBox::No: return mrNo;
    case QMessageBox::Cancel: return mrCancel;
    default: return mrCancel;
    }
}

void TKorvaneMessageBox::showEvent(QShowEvent *event)
{
    // Qt sizes its box here; the adjustment starts from that size.
    QMessageBox::showEvent(event);
    if (!platformSize_.isValid()) {
        platformSize_ = size();
        Adjust();
    } else if (adjustedSize_.isValid()) {
        if (QLabel *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            label->setWordWrap(false);
        setFixedSize(adjustedSize_);
    }
}

bool TKorvaneMessageBox::event(QEvent *event)
{
    // Once adjusted, Qt's box must not size itself again on layout requests
    // (it would turn word wrap back on and shrink to its own size).
    if (event->type() == QEvent::LayoutRequest && adjustedSize_.isValid())
        return QDialog::event(event);
    return QMessageBox::event(event);
}

void TKorvaneMessageBox::Adjust()
{
    QLabel *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    const int before = WidestLine(lines_, label ? label->font() : font());
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(12);
    setFont(arial);
    const int after = WidestLine(lines_, label ? label->font() : arial);
    int widening = std::max(0, after - before);
    if (label) {
        label->setWordWrap(false);
        // Qt's own box may have wrapped or clipped a long line at its maximum width, so the difference of the two
        // measures is not always enough: the label must get at least the width of its widest line, or its last
        // characters are cut off.
        const int labelMargins = label->contentsMargins().left() + label->contentsMargins().right() +
                                 2 * label->margin() + 2 * label->indent();
        const int needed = after + std::max(0, labelMargins) + 2;
        widening = std::max(widening, needed - label->width());
    }
    const int extraHeight = (int(lines_.size()) - 1) * QFontMetrics(arial).height();
    adjustedSize_ = platformSize_ + QSize(widening, extraHeight);
    setFixedSize(adjustedSize_);
    if (label)
        label->setMinimumWidth(label->sizeHint().width());

    if (TTemplateDM *dm = TemplateDMIfAny())
        move(dm->MonitorLeft(adjustedSize_.width(), 1), (dm->WorkAreaHeight() - adjustedSize_.height()) / 2);
    if (QAbstractButton *first = firstButton_) {
        QTimer::singleShot(0, first, [first]() {
            QCursor::setPos(first->mapToGlobal(first->rect().center()));
        });
    }
}

int TTemplateDM::ShowMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons) const
{
    if (messageDialog_)
        return messageDialog_(text, kind, buttons);
    TKorvaneMessageBox box(text, kind, buttons);
    // Above every window, those kept on top (the information window) included: a
    // message hidden behind one would leave the program waiting for an answer unseen.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
    return box.Result();
}
