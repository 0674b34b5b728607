#include "viewer/shell/messagedialog.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
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

// A line cut into lines no wider than `width`: at blanks where it can, and inside a word
// too long to fit (a long file name, an accession number of hundreds of characters).
QStringList WrapLine(const QString &line, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(line) <= width)
        return {line};
    QStringList out;
    QString current;
    const auto flush = [&out, &current] {
        if (!current.isEmpty())
            out << current;
        current.clear();
    };
    const QStringList words = line.split(QLatin1Char(' '));
    for (qsizetype w = 0; w < words.size(); ++w) {
        QString word = words[w];
        const QString tried = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(tried) <= width) {
            current = tried;
            continue;
        }
        flush();
        // The word alone on its lines, cut where it no longer fits.
        while (metrics.horizontalAdvance(word) > width) {
            qsizetype n = 1;
            while (n < word.size() && metrics.horizontalAdvance(word.left(n + 1)) <= width)
                ++n;
            if (n < word.size() && word[n - 1].isHighSurrogate())
                --n;
            out << word.left(std::max<qsizetype>(1, n));
            word = word.mid(std::max<qsizetype>(1, n));
        }
        current = word;
    }
    flush();
    return out;
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
    // The box stays on its monitor: a line wider than the monitor allows in the box's
    // font (Arial 12, once adjusted) is wrapped now, since the box has no word wrap then.
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(12);
    const QFontMetrics metrics(arial);
    const int room = std::max(200, MonitorWidth() - 2 * kScreenMargin - kIconAndMargins);
    QStringList wrapped;
    for (const QString &line : std::as_const(lines_))
        wrapped += WrapLine(line, metrics, room);
    lines_ = wrapped;
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

int TKorvaneMessageBox::MonitorWidth() const
{
    // The monitors are taken as equal and side by side: monitor 1 spans twice the left edge
    // that centres an empty window on it.
    if (TTemplateDM *dm = TemplateDMIfAny())
        return 2 * dm->MonitorLeft(0, 1);
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().width() : 1024;
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
    adjustedSize_.setWidth(std::min(adjustedSize_.width(), std::max(1, MonitorWidth() - 2 * kScreenMargin)));
    setFixedSize(adjustedSize_);
    if (label)
        label->setMinimumWidth(label->sizeHint().width());

    if (TTemplateDM *dm = TemplateDMIfAny())
        move(std::max(0, dm->MonitorLeft(adjustedSize_.width(), 1)),
             std::max(0, (dm->WorkAreaHeight() - adjustedSize_.height()) / 2));
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
