#pragma once
// The two radiologist dialogs: adding a radiologist to the list, and choosing one of the
// list.

#include "viewer/dictation/radiologists.h"
#include "viewer/dictation/template6.h"

class QLineEdit;
class QListWidget;

class TFormDicteeAjouterRadiologiste : public TTemplate6
{
    Q_OBJECT
public:
    TFormDicteeAjouterRadiologiste(const QString &section, const QString &iniPath, QWidget *parent = nullptr);

    QLineEdit *EditNom = nullptr;
    QLineEdit *EditLicence = nullptr;
    QLineEdit *EditGroupe = nullptr;
    dictation::TRadiologist Result;

    void Confirm() override;

    // Focused fields are painted in this colour.
    static QColor FocusColour() { return QColor(234, 244, 255); }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString section_;
    QString iniPath_;
};

class TFormDicteeConfirmerRadiologiste : public TTemplate6
{
    Q_OBJECT
public:
    TFormDicteeConfirmerRadiologiste(const QString &section, const QString &iniPath, QWidget *parent = nullptr);

    QListWidget *ListeRadiologistes = nullptr;
    dictation::TRadiologist Result;

    void Confirm() override;
    void Cancel() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString section_;
    QString iniPath_;
};
