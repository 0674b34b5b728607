#include "transfer/core/formconfig.h"

#include "transfer/core/transfersettings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace strandel {

TFormConfig::TFormConfig(TransferSettings &settings, const ClientUi &ui, bool noShortcuts,
                         ShortcutFunction shortcuts, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_ui(ui)
    , m_shortcuts(std::move(shortcuts))
{
    setWindowTitle(kApplicationTitle);
    setObjectName(QStringLiteral("FormConfig"));
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(QStringLiteral("Configuration initiale"), this);
    QFont big = heading->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    heading->setFont(big);
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);

    auto *userGroup = new QGroupBox(QStringLiteral("Utilisateur"), this);
    auto *userForm = new QFormLayout(userGroup);
    m_usager = new QLineEdit(settings.Usager, userGroup);
    m_usager->setMaxLength(10);
    m_motDePasse = new QLineEdit(settings.MotDePasse, userGroup);
    m_motDePasse->setMaxLength(10);
    m_motDePasse->setEchoMode(QLineEdit::Password);
    m_motDePasse->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_fichierZip = new QLineEdit(settings.FichierZip, userGroup);
    m_fichierZip->setMaxLength(30);
    for (QLineEdit *e : {m_usager, m_motDePasse, m_fichierZip})
        setUpperCase(e, true);
    userForm->addRow(QStringLiteral("* Code de l'usager"), m_usager);
    userForm->addRow(QStringLiteral("* Mot de passe"), m_motDePasse);
    userForm->addRow(QStringLiteral("* Nom de l'usager "), m_fichierZip);
    layout->addWidget(userGroup);

    m_serverGroup = new QGroupBox(QStringLiteral("Serveur"), this);
    auto *serverForm = new QFormLayout(m_serverGroup);
    m_adresseIp = new QLineEdit(settings.AdresseIp, m_serverGroup);
    m_port = new QLineEdit(settings.Port, m_serverGroup);
    m_alias = new QLineEdit(settings.Alias, m_serverGroup);
    serverForm->addRow(QStringLiteral("* Adresse IP"), m_adresseIp);
    serverForm->addRow(QStringLiteral("Port"), m_port);
    serverForm->addRow(QStringLiteral("* Alias"), m_alias);
    // A value given on the command line cannot be changed here.
    m_adresseIp->setEnabled(!settings.adresseIpLocked());
    m_port->setEnabled(!settings.portLocked());
    m_alias->setEnabled(!settings.aliasLocked());
    layout->addWidget(m_serverGroup);

    m_shortcutGroup = new QGroupBox(QStringLiteral("Créer les raccourcis sur le bureau"), this);
    auto *shortcutLayout = new QVBoxLayout(m_shortcutGroup);
    m_strandelBox = new QCheckBox(QStringLiteral("Strandel"), m_shortcutGroup);
    m_viewerBox = new QCheckBox(QStringLiteral("KorvaneCD"), m_shortcutGroup);
    m_strandelBox->setChecked(true);
    m_viewerBox->setChecked(true);
    shortcutLayout->addWidget(m_strandelBox);
    shortcutLayout->addWidget(m_viewerBox);
    m_shortcutGroup->setEnabled(bool(m_shortcuts));
    layout->addWidget(m_shortcutGroup);

    auto *buttons = new QHBoxLayout;
    m_configurer = new QPushButton(QStringLiteral("Configurer"), this);
    m_configurer->setDefault(true);
    auto *annuler = new QPushButton(QStringLiteral("Annuler"), this);
    buttons->addStretch();
    buttons->addWidget(m_configurer);
    buttons->addWidget(annuler);
    layout->addLayout(buttons);
    connect(m_configurer, &QPushButton::clicked, this, &TFormConfig::configurer);
    connect(annuler, &QPushButton::clicked, this, &QDialog::reject);

    if (noShortcuts) {
        m_strandelBox->setChecked(false);
        m_viewerBox->setChecked(false);
        m_shortcutGroup->hide();
    }
    if (!settings.AdresseIp.isEmpty() && !settings.Alias.isEmpty())
        m_serverGroup->hide();
    for (QLineEdit *e : {m_usager, m_motDePasse, m_fichierZip, m_adresseIp, m_port, m_alias})
        e->setMinimumWidth(220);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_usager->setFocus();
}

void TFormConfig::configurer()
{
    if (m_adresseIp->text().isEmpty() || m_alias->text().isEmpty() || m_fichierZip->text().isEmpty()
        || m_usager->text().isEmpty() || m_motDePasse->text().isEmpty()) {
        m_ui.error(this, QStringLiteral("Erreur: Vous devez préciser tous les paramètres requis"));
        return;
    }
    if (!m_ui.confirm(this, QStringLiteral("Voulez-vous enregistrer les paramètres ?"))) {
        reject();
        return;
    }
    if (!m_settings.adresseIpLocked())
        m_settings.AdresseIp = m_adresseIp->text();
    if (!m_settings.portLocked())
        m_settings.Port = m_port->text();
    if (!m_settings.aliasLocked())
        m_settings.Alias = m_alias->text();
    m_settings.FichierZip = m_fichierZip->text();
    m_settings.Usager = m_usager->text();
    m_settings.MotDePasse = m_motDePasse->text();
    if (!m_settings.write()) {
        m_ui.error(this, QStringLiteral("L'enregistrement des paramètres est impossible.\r\r")
                             + m_settings.file() + QStringLiteral("\r") + m_settings.errorString());
        return;
    }
    if (m_shortcuts && (m_strandelBox->isChecked() || m_viewerBox->isChecked()))
        m_shortcuts(m_strandelBox->isChecked(), m_viewerBox->isChecked());
    accept();
}

} // namespace strandel
