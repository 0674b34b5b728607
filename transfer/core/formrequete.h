#pragma once

#include "transfer/core/clientui.h"
#include "transfer/core/transfersettings.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace strandel {

// The request dialog: accession number, birth date, compression rate and
// the demand for the examination report. It lives as long as the main
// window and keeps its fields from one opening to the next.
class TFormRequete : public QDialog {
    Q_OBJECT
public:
    explicit TFormRequete(const ClientUi &ui, QWidget *parent = nullptr);

    // Every opening: report box, date masking and format, today's date in a
    // blank or invalid date field, upper case, rate buttons, focus.
    void prepare(const TransferSettings &settings);

    QLineEdit *accessionEdit() const { return m_accession; }
    QLineEdit *dateEdit() const { return m_date; }
    QLabel *formatLabel() const { return m_format; }
    QLabel *imposedLabel() const { return m_imposed; }
    QCheckBox *reportBox() const { return m_report; }
    QPushButton *envoyerButton() const { return m_envoyer; }
    QPushButton *annulerButton() const { return m_annuler; }
    QRadioButton *rateButton(CompressionRate rate) const;

    CompressionRate rate() const;
    void setRate(CompressionRate rate);

    // The accession number as typed.
    QString accessionNumber() const;
    // The date field's text, or empty when the field is blank.
    QString birthDate() const;
    bool dateBlank() const;
    // Puts today's date into the date field.
    void setDateToday();

    // "Envoyer": refuses an invalid date, else confirms.
    void envoyer();

private:
    bool dateValid() const;

    ClientUi m_ui;
    QLineEdit *m_accession;
    QLineEdit *m_date;
    QLabel *m_format;
    QLabel *m_imposed;
    QGroupBox *m_rates;
    QRadioButton *m_rate[4];
    QCheckBox *m_report;
    QPushButton *m_envoyer;
    QPushButton *m_annuler;
};

} // namespace strandel
