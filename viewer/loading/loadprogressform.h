#pragma once
// The small window shown while a visit loads: "Chargement en cours..." and the
// series and image being read, in raised bold italic Arial over a white-to-silver
// gradient inside two black frames.

#include <QWidget>

class LoadProgressForm : public QWidget
{
    Q_OBJECT
public:
    explicit LoadProgressForm(QWidget *parent = nullptr);

    // "Série: " + series + two blanks + "Image: " + image.
    void SetProgress(int series, int image);
    QString ProgressText() const { return progress_; }
    static QString TitleText() { return QStringLiteral("Chargement en cours..."); }

    // Centred on the screen vertically, at `left` horizontally (MonitorLeft (480, 1)).
    void ShowAt(int left);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont TextFont() const;

    QString progress_;
};
