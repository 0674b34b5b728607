#pragma once

#include <QIcon>
#include <QTimer>
#include <QWidget>

// The tool tip window of the whole application: the application icon at
// (5, 5), the text to its right in Arial 12, vertically centred.
class TKorvaneHint : public QWidget
{
    Q_OBJECT
public:
    explicit TKorvaneHint(QWidget *parent = nullptr);

    // Shows `text` near the global point `position`.
    void ShowHint(const QString &text, const QPoint &position);
    void HideHint();
    const QString &Text() const { return text_; }

    // Size for a text: icon width + text width + 18 by icon height + 8.
    QSize SizeFor(const QString &text) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap Icon() const;

    QString text_;
    QTimer hideTimer_;
};
