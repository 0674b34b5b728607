#include "transfer/core/formrequete.h"

#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace strandel {

TFormRequete::TFormRequete(const ClientUi &ui, QWidget *parent)
    : QDialog(parent)
    , m_ui(ui)
{
    setWindowTitle(QStringLiteral("Requête"));
    setObjectName(QStringLiteral("FormRequete"));
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    m_accession = new QLineEdit(this);
    m_accession->setObjectName(QStringLiteral("EditAccession"));
    m_date = new QLineEdit(this);
    m_date->setObjectName(QStringLiteral("EditDateNaissance"));
    // Four, two and two digits; a blank position shows as a blank.
    m_date->setInputMask(QStringLiteral("9999-99-99; "));
    m_date->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_format = new QLabel(QStringLiteral("(aaaa-mm-jj)"), this);
    grid->addWidget(new QLabel(QStringLiteral("No. d'accession"), this), 0, 0);
    grid->addWidget(m_accession, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Date de naissance"), this), 1, 0);
    grid->addWidget(m_date, 1, 1);
    grid->addWidget(m_format, 1, 2);
    layout->addLayout(grid);

    m_rates = new QGroupBox(QStringLiteral(" Taux de compression "), this);
    auto *rates = new QHBoxLayout(m_rates);
    const char *captions[4] = {"0 %", "20 %", "50 %", "80 %"};
    for (int i = 0; i < 4; ++i)
        m_rate[i] = new QRadioButton(QString::fromLatin1(captions[i]), m_rates);
    for (int i = 3; i >= 0; --i)
        rates->addWidget(m_rate[i]);
    m_rate[3]->setChecked(true);
    layout->addWidget(m_rates);
    m_imposed = new QLabel(QStringLiteral("Taux de compression imposé"), this);
    layout->addWidget(m_imposed);
    m_report = new QCheckBox(QStringLiteral("Demander le rapport d'examen"), this);
    layout->addWidget(m_report);

    auto *buttons = new QHBoxLayout;
    m_envoyer = new QPushButton(QStringLiteral("Envoyer"), this);
    m_envoyer->setDefault(true);
    m_annuler = new QPushButton(QStringLiteral("Annuler"), this);
    buttons->addStretch();
    buttons->addWidget(m_envoyer);
    buttons->addWidget(m_annuler);
    layout->addLayout(buttons);
    connect(m_envoyer, &QPushButton::clicked, this, &TFormRequete::envoyer);
    connect(m_annuler, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(340);
}

QRadioButton *TFormRequete::rateButton(CompressionRate rate) const
{
    return m_rate[int(rate)];
}

CompressionRate TFormRequete::rate() const
{
    for (int i = 0; i < 4; ++i) {
        if (m_rate[i]->isChecked())
            return CompressionRate(i);
    }
    return CompressionRate::Rate80;
}

void TFormRequete::setRate(CompressionRate rate)
{
    m_rate[int(rate)]->setChecked(true);
}

QString TFormRequete::accessionNumber() const
{
    return m_accession->text();
}

bool TFormRequete::dateBlank() const
{
    for (QChar c : m_date->text()) {
        if (c.isDigit())
            return false;
    }
    return true;
}

QString TFormRequete::birthDate() const
{
    return dateBlank() ? QString() : m_date->text();
}

bool TFormRequete::dateValid() const
{
    return QDate::fromString(m_date->text(), kShortDateFormat).isValid();
}

void TFormRequete::setDateToday()
{
    m_date->setText(QDate::currentDate().toString(kShortDateFormat));
}

void TFormRequete::prepare(const TransferSettings &settings)
{
    m_report->setVisible(settings.Rapport);
    if (settings.DateNaiss) {
        m_date->setEchoMode(QLineEdit::Password);
        m_format->setText(QStringLiteral("(aaaammjj)"));
    } else {
        m_date->setEchoMode(QLineEdit::Normal);
        m_format->setText(QStringLiteral("(aaaa-mm-jj)"));
    }
    if (dateBlank() || !dateValid())
        setDateToday();
    setUpperCase(m_accession, settings.Majuscule);
    for (QRadioButton *b : m_rate)
        b->setEnabled(settings.TauxSuggere);
    m_imposed->setVisible(settings.TauxImpose);
    m_accession->setFocus();
}

void TFormRequete::envoyer()
{
    if (!dateBlank() && !dateValid()) {
        m_ui.error(this, QStringLiteral("La date:") + m_date->text() + QStringLiteral(" est invalide"));
        m_date->setFocus();
        return;
    }
    accept();
}

} // namespace strandel
