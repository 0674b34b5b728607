#pragma once

#include "viewer/shell/templatedm.h"

#include <QMessageBox>

// The viewer's message box: Qt's standard box for the text, kind and buttons,
// then shown in Arial 12 without word wrap, widened by what the larger font
// needs, one text line taller per extra line of the message, centred on
// monitor 1 and in the work area, with the mouse on its first button. A line
// wider than the monitor is wrapped (inside a word when it must), so the box
// and its buttons stay on the screen.
class TKorvaneMessageBox : public QMessageBox
{
    Q_OBJECT
public:
    TKorvaneMessageBox(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons,
                       QWidget *parent = nullptr);

    // The size Qt's own box took for the text, before the adjustment (valid once shown).
    QSize PlatformSize() const { return platformSize_; }
    // Text height of the dialog's font once adjusted.
    int TextHeight() const;
    // The button pressed as a TModalResult.
    int Result() const;
    QPushButton *FirstButton() const { return firstButton_; }

    static QString Caption(TMsgDlgType kind);
    // Room kept free between the box and the edges of its monitor.
    static constexpr int kScreenMargin = 20;
    // Width the box takes besides its text (icon, margins), as room for wrapping.
    static constexpr int kIconAndMargins = 160;
    // Width of monitor 1, where the box is shown.
    int MonitorWidth() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void Adjust();

    QStringList lines_;
    QPushButton *firstButton_ = nullptr;
    QSize platformSize_;
    QSize adjustedSize_;
};
