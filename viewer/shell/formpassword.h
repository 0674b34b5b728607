#pragma once

#include "viewer/shell/forms.h"

class QLabel;
class QPushButton;

// The splash form at start-up and the About box afterwards: the program's
// picture with the notice, the program version and the imaging component's
// version. At start-up it offers "OK" and "Annuler" (Cancel ends the program);
// as About box only "OK", in the place of "Annuler".
//
// Creating it applies the component-wide display settings (orientation
// letters, the "DirectDraw" and "StaticPalette" switches from the machine
// settings or the command line, "ScaleLineWidth" 0).
class TFormPassword : public TTemplate1
{
    Q_OBJECT
public:
    // `startupFinished` false: the splash at start-up; true: the About box.
    explicit TFormPassword(bool startupFinished, QWidget *parent = nullptr);

    bool StartupFinished() const { return startupFinished_; }
    QLabel *NoticeLabel() const { return notice_; }
    QLabel *VersionLabel() const { return version_; }
    QLabel *ComponentLabel() const { return component_; }
    QPushButton *OKButton() const { return ok_; }
    QPushButton *CancelButton() const { return cancel_; }
    // The decoded picture (null when the resource was unreadable).
    const QImage &Picture() const { return picture_; }

    // Applies the component settings on a new DicomGlobal object; answers the
    // component version ("" when the component is not available).
    static QString ApplyComponentSettings();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void Finish(int result);

    bool startupFinished_;
    bool finishing_ = false;
    bool aboutArranged_ = false;
    QImage picture_;
    QLabel *pictureLabel_ = nullptr;
    QLabel *notice_ = nullptr;
    QLabel *version_ = nullptr;
    QLabel *component_ = nullptr;
    QPushButton *ok_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QString componentVersion_;
};
