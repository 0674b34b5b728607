#include "transfer/core/formparametres.h"

#include "common/profilefile.h"
#include "transfer/core/echoservice.h"
#include "transfer/core/formrequete.h"
#include "transfer/core/transfersettings.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace strandel {

namespace {
using S = TransferSettings;
}

TFormParametres::TFormParametres(TransferSettings &settings, SoapClient &soap, const ClientUi &ui,
                                 TFormRequete *requete, Actions actions, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_soap(soap)
    , m_ui(ui)
    , m_requete(requete)
    , m_actions(std::move(actions))
{
    setWindowTitle(kApplicationTitle);
    setObjectName(QStringLiteral("FormParametres"));
    auto *layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(buildAcces(), QStringLiteral("Accès"));
    m_tabs->addTab(buildPersonnaliser(), QStringLiteral("Personnaliser"));
    m_tabs->addTab(buildOptions(), QStringLiteral("Options"));
    layout->addWidget(m_tabs);
    auto *bottom = new QHBoxLayout;
    QPushButton *save = addButton(this, QStringLiteral("Sauvegarder"), QString());
    save->setDefault(true);
    bottom->addStretch();
    bottom->addWidget(save);
    layout->addLayout(bottom);
    connect(save, &QPushButton::clicked, this, &TFormParametres::sauvegarder);
    setFixedSize(680, 540);
}

QLineEdit *TFormParametres::addText(QWidget *parent, const char *key, QString TransferSettings::*member)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String("Edit") + QLatin1String(key));
    m_texts.insert(QLatin1String(key), {e, member});
    connect(e, &QLineEdit::textChanged, this, [this, member](const QString &text) {
        if (!m_loading)
            m_settings.*member = text;
    });
    return e;
}

QCheckBox *TFormParametres::addCheck(QWidget *parent, const char *key, const QString &caption,
                                     bool TransferSettings::*member)
{
    auto *b = new QCheckBox(caption, parent);
    b->setObjectName(QLatin1String("Check") + QLatin1String(key));
    m_bools.insert(QLatin1String(key), {b, member});
    connect(b, &QCheckBox::toggled, this, [this, member](bool on) {
        if (!m_loading)
            m_settings.*member = on;
    });
    return b;
}

QRadioButton *TFormParametres::addRadio(QWidget *parent, const char *key, const QString &caption,
                                        bool TransferSettings::*member)
{
    auto *b = new QRadioButton(caption, parent);
    b->setObjectName(QLatin1String("Radio") + QLatin1String(key));
    m_bools.insert(QLatin1String(key), {b, member});
    connect(b, &QRadioButton::toggled, this, [this, member](bool on) {
        if (!m_loading)
            m_settings.*member = on;
    });
    return b;
}

QLabel *TFormParametres::addLabel(QWidget *parent, const char *key, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    if (key)
        m_labels.insert(QLatin1String(key), l);
    return l;
}

QPushButton *TFormParametres::addButton(QWidget *parent, const QString &caption, const QString &hint)
{
    auto *b = new QPushButton(caption, parent);
    b->setAutoDefault(false);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    m_buttons << b;
    return b;
}

QWidget *TFormParametres::buildAcces()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);

    auto *server = new QGroupBox(QStringLiteral("Connexion au serveur"), page);
    auto *g = new QGridLayout(server);
    g->addWidget(addLabel(server, "AdresseIp", QStringLiteral("Adresse IP du serveur")), 0, 0);
    g->addWidget(addText(server, "AdresseIp", &S::AdresseIp), 0, 1);
    g->addWidget(addLabel(server, "Port", QStringLiteral("Port")), 1, 0);
    g->addWidget(addText(server, "Port", &S::Port), 1, 1);
    g->addWidget(addLabel(server, "Alias", QStringLiteral("Alias du répertoire virtuel")), 2, 0);
    g->addWidget(addText(server, "Alias", &S::Alias), 2, 1);
    QPushButton *connexion = addButton(
        server, QStringLiteral("Tester la connexion"),
        QStringLiteral("Testez la connexion à Strandel Serveur suivant les paramètres indiqués"));
    g->addWidget(connexion, 3, 1, Qt::AlignRight);
    v->addWidget(server);

    auto *user = new QGroupBox(QStringLiteral("Usager"), page);
    auto *u = new QGridLayout(user);
    u->addWidget(addLabel(user, "FichierZip", QStringLiteral("Nom de l'usager ")), 0, 0);
    QLineEdit *zip = addText(user, "FichierZip", &S::FichierZip);
    u->addWidget(zip, 0, 1);
    u->addWidget(addLabel(user, "Usager", QStringLiteral("Code de l'usager")), 1, 0);
    QLineEdit *code = addText(user, "Usager", &S::Usager);
    u->addWidget(code, 1, 1);
    u->addWidget(addLabel(user, "MotDePasse", QStringLiteral("Mot de passe")), 2, 0);
    QLineEdit *pass = addText(user, "MotDePasse", &S::MotDePasse);
    pass->setEchoMode(QLineEdit::Password);
    pass->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    u->addWidget(pass, 2, 1);
    for (QLineEdit *e : {zip, code, pass})
        setUpperCase(e, true);
    auto *userButtons = new QHBoxLayout;
    QPushButton *acces = addButton(user, QStringLiteral("Tester l'accès"),
                                   QStringLiteral("Testez l'accès de cet usager"));
    QPushButton *dispo = addButton(
        user, QStringLiteral("Fichier d'images disponibles ?"),
        QStringLiteral("Vérifier la disponibilité d'un fichier d'images pour l'usager indiqué"));
    userButtons->addStretch();
    userButtons->addWidget(acces);
    userButtons->addWidget(dispo);
    u->addLayout(userButtons, 3, 0, 1, 2);
    v->addWidget(user);

    auto *update = new QGroupBox(QStringLiteral("Mise à jour de Strandel "), page);
    auto *m = new QGridLayout(update);
    m->addWidget(addCheck(update, "MajAuto", QStringLiteral("Vérification automatique"), &S::MajAuto), 0,
                 0, 1, 2);
    m->addWidget(addLabel(update, "Version", QStringLiteral("Version actuelle")), 1, 0);
    m->addWidget(addText(update, "Version", &S::Version), 1, 1);
    QPushButton *maj = addButton(update, QStringLiteral("Mise à jour"), QString());
    maj->setEnabled(bool(m_actions.checkForUpdate));
    m->addWidget(maj, 2, 1, Qt::AlignRight);
    v->addWidget(update);
    v->addStretch();

    connect(connexion, &QPushButton::clicked, this, &TFormParametres::testerConnexion);
    connect(acces, &QPushButton::clicked, this, &TFormParametres::testerAcces);
    connect(dispo, &QPushButton::clicked, this, &TFormParametres::fichierDisponible);
    connect(maj, &QPushButton::clicked, this, &TFormParametres::miseAJour);
    return page;
}

QWidget *TFormParametres::buildPersonnaliser()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);

    auto *request = new QGroupBox(QStringLiteral("Requête"), page);
    auto *r = new QGridLayout(request);
    r->addWidget(addCheck(request, "Requete", QStringLiteral("Activer"), &S::Requete), 0, 0, 1, 3);
    r->addWidget(addLabel(request, "Delai",
                          QStringLiteral("Vérifier la présence d'une réponse à une requête à toutes les ")),
                 1, 0);
    QLineEdit *delai = addText(request, "Delai", &S::Delai);
    delai->setFixedWidth(50);
    r->addWidget(delai, 1, 1);
    r->addWidget(new QLabel(QStringLiteral("sec."), request), 1, 2);
    auto *une = addCheck(request, "UneReqAlafois",
                         QStringLiteral("Vérifier la présence d'une requête sur le serveur avant d'en "
                                        "permettre une nouvelle."),
                         &S::UneReqAlafois);
    r->addWidget(une, 2, 0, 1, 3);
    r->addWidget(addCheck(request, "VerifierZip",
                          QStringLiteral("Vérifier présence d'images prêtes à recevoir avant de permettre "
                                         "nouv. requête"),
                          &S::VerifierZip),
                 3, 0, 1, 3);
    r->addWidget(addCheck(request, "Majuscule",
                          QStringLiteral("Forcer les majuscules dans les no. d'accession"), &S::Majuscule),
                 4, 0, 1, 3);
    QCheckBox *dateNaiss =
        addCheck(request, "DateNaiss", QStringLiteral("Masquer la date de naissance"), &S::DateNaiss);
    r->addWidget(dateNaiss, 5, 0, 1, 3);
    r->addWidget(addCheck(request, "Rapport", QStringLiteral("Inclure la demande de rapport"), &S::Rapport),
                 6, 0, 1, 3);
    r->setColumnStretch(2, 1);
    v->addWidget(request);

    auto *rate = new QGroupBox(QStringLiteral("Taux de compression"), page);
    auto *rl = new QHBoxLayout(rate);
    auto *defaults = new QGroupBox(QStringLiteral("Taux par défaut"), rate);
    auto *dl = new QHBoxLayout(defaults);
    dl->addWidget(addRadio(defaults, "Taux0", QStringLiteral("0%"), &S::Taux0));
    dl->addWidget(addRadio(defaults, "Taux20", QStringLiteral("20%"), &S::Taux20));
    dl->addWidget(addRadio(defaults, "Taux50", QStringLiteral("50%"), &S::Taux50));
    dl->addWidget(addRadio(defaults, "Taux80", QStringLiteral("80%"), &S::Taux80));
    auto *mode = new QGroupBox(QStringLiteral("Mode"), rate);
    auto *ml = new QHBoxLayout(mode);
    ml->addWidget(addRadio(mode, "TauxSuggere", QStringLiteral("Suggéré"), &S::TauxSuggere));
    ml->addWidget(addRadio(mode, "TauxImpose", QStringLiteral("Imposé"), &S::TauxImpose));
    rl->addWidget(defaults);
    rl->addWidget(mode);
    v->addWidget(rate);

    auto *download = new QGroupBox(QStringLiteral("Téléchargement"), page);
    auto *d = new QVBoxLayout(download);
    d->addWidget(addCheck(download, "ModeAttente", QStringLiteral("Vérification continue"), &S::ModeAttente));
    auto *rappel = addCheck(download, "Rappel",
                            QStringLiteral("Afficher ce rappel après réception d'images :  Voulez-vous "
                                           "fermer Strandel maintenant ?"),
                            &S::Rappel);
    d->addWidget(rappel);
    v->addWidget(download);
    v->addStretch();

    connect(dateNaiss, &QCheckBox::clicked, this, [this] {
        if (m_requete)
            m_requete->setDateToday();
    });
    return page;
}

QWidget *TFormParametres::buildOptions()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);

    auto *remote = new QGroupBox(QStringLiteral("Tessarune"), page);
    auto *rl = new QVBoxLayout(remote);
    rl->addWidget(addCheck(remote, "Tessarune", QStringLiteral("Déclencher l'ouverture de tessarune"),
                           &S::Tessarune));
    v->addWidget(remote);

    auto *archives = new QGroupBox(QStringLiteral("Gestion des archives"), page);
    auto *a = new QGridLayout(archives);
    QCheckBox *conserver =
        addCheck(archives, "Conserver", QStringLiteral("Conserver les images"), &S::Conserver);
    a->addWidget(conserver, 0, 0, 1, 3);
    a->addWidget(addLabel(archives, "Epurer", QStringLiteral("Épurer après")), 1, 0);
    QLineEdit *epurer = addText(archives, "Epurer", &S::Epurer);
    epurer->setMaxLength(3);
    epurer->setFixedWidth(50);
    epurer->installEventFilter(this);
    a->addWidget(epurer, 1, 1);
    a->addWidget(new QLabel(QStringLiteral("jours"), archives), 1, 2);
    a->addWidget(addCheck(archives, "EpureAuto", QStringLiteral("Automatique"), &S::EpureAuto), 2, 0, 1, 3);
    QPushButton *purge = addButton(archives, QStringLiteral("Épuration"), QString());
    purge->setEnabled(bool(m_actions.purgeWindow));
    a->addWidget(purge, 2, 3);
    a->setColumnStretch(2, 1);
    v->addWidget(archives);

    auto *dictation = new QGroupBox(QStringLiteral("Téléchargement des dictées en amont"), page);
    auto *dg = new QGridLayout(dictation);
    dg->addWidget(addCheck(dictation, "DicteeActif", QStringLiteral("Actif"), &S::DicteeActif), 0, 0, 1, 2);
    dg->addWidget(addLabel(dictation, "DirDictee", QStringLiteral("Répertoire des dictées")), 1, 0);
    dg->addWidget(addText(dictation, "DirDictee", &S::DirDictee), 1, 1);
    dg->addWidget(addLabel(dictation, "TrUpload", QStringLiteral("Temps de transfert")), 2, 0);
    QLineEdit *trUpload = addText(dictation, "TrUpload", &S::TrUpload);
    trUpload->setFixedWidth(60);
    dg->addWidget(trUpload, 2, 1, Qt::AlignLeft);
    v->addWidget(dictation);

    auto *stats = new QGroupBox(QStringLiteral("Statistiques"), page);
    auto *sl = new QHBoxLayout(stats);
    sl->addWidget(addLabel(stats, "TauxTransfert", QStringLiteral("Temps calculé ")));
    QLineEdit *taux = addText(stats, "TauxTransfert", &S::TauxTransfert);
    taux->setFixedWidth(60);
    sl->addWidget(taux);
    sl->addWidget(new QLabel(QStringLiteral("min/mo"), stats));
    sl->addStretch();
    v->addWidget(stats);

    auto *other = new QGridLayout;
    other->addWidget(addLabel(page, "BoutonDownload", QStringLiteral("Texte Bouton téléchargement")), 0, 0);
    QLineEdit *bouton = addText(page, "BoutonDownload", &S::BoutonDownload);
    bouton->setMaxLength(35);
    other->addWidget(bouton, 0, 1);
    other->addWidget(
        addLabel(page, "RepDestination", QStringLiteral("Répertoire destination (ZIPs dictées seulement)")), 1,
        0);
    other->addWidget(addText(page, "RepDestination", &S::RepDestination), 1, 1);
    v->addLayout(other);
    v->addStretch();

    connect(conserver, &QCheckBox::toggled, this, [this](bool on) {
        if (!on && !m_loading)
            edit("Epurer")->setText(QStringLiteral("0"));
    });
    connect(purge, &QPushButton::clicked, this, &TFormParametres::epuration);
    return page;
}

QLineEdit *TFormParametres::edit(const char *key) const
{
    return m_texts.value(QLatin1String(key)).edit;
}

QAbstractButton *TFormParametres::check(const char *key) const
{
    return m_bools.value(QLatin1String(key)).box;
}

QLabel *TFormParametres::label(const char *key) const
{
    return m_labels.value(QLatin1String(key));
}

QPushButton *TFormParametres::button(const QString &caption) const
{
    for (QPushButton *b : m_buttons) {
        if (b->text() == caption)
            return b;
    }
    return nullptr;
}

void TFormParametres::load()
{
    // The rates and the rate modes are radio choices: one of each.
    m_settings.setDefaultRate(m_settings.defaultRate());
    const bool imposed = m_settings.TauxImpose && !m_settings.TauxSuggere;
    m_settings.TauxSuggere = !imposed;
    m_settings.TauxImpose = imposed;
    m_loading = true;
    for (const TextBinding &t : std::as_const(m_texts))
        t.edit->setText(m_settings.*t.member);
    for (const BoolBinding &b : std::as_const(m_bools))
        b.box->setChecked(m_settings.*b.member);
    const bool locked[3] = {m_settings.adresseIpLocked(), m_settings.portLocked(), m_settings.aliasLocked()};
    const char *keys[3] = {"AdresseIp", "Port", "Alias"};
    for (int i = 0; i < 3; ++i) {
        edit(keys[i])->setEnabled(!locked[i]);
        label(keys[i])->setEnabled(!locked[i]);
    }
    m_loading = false;
}

void TFormParametres::prepare()
{
    m_settings.read();
    load();
    m_tabs->setCurrentIndex(0);
}

IEchoService &TFormParametres::service()
{
    return ServiceProxy(m_soap, m_settings.AdresseIp, m_settings.Port, m_settings.Alias);
}

void TFormParametres::testerConnexion()
{
    if (TestConnection(service()))
        m_ui.information(this, QStringLiteral("Test de connexion réussi"));
    else
        m_ui.error(this, QStringLiteral("ERREUR : Le test de connexion a échoué"));
}

void TFormParametres::testerAcces()
{
    if (TestAccess(service(), m_settings.FichierZip, m_settings.Usager, m_settings.MotDePasse,
                   m_ui.errorBox(this)))
        m_ui.information(this, QStringLiteral("Test d'accès réussi"));
    else
        m_ui.error(this, QStringLiteral("ERREUR : Le test d'accès a échoué"));
}

void TFormParametres::fichierDisponible()
{
    const QString name = AvailableArchive(service(), m_settings.FichierZip, m_ui.errorBox(this));
    if (!name.isEmpty())
        m_ui.information(this, QStringLiteral("Il y a un fichier zip disponible:") + name);
    else
        m_ui.error(this, QStringLiteral("Aucun fichier disponible"));
}

void TFormParametres::miseAJour()
{
    if (m_settings.AdresseIp.isEmpty() || m_settings.Alias.isEmpty()) {
        m_ui.error(this, QStringLiteral("ERREUR : Les paramètres de connexion au serveur sont incomplets"));
        return;
    }
    if (!TestConnection(service())) {
        m_ui.error(this, QStringLiteral("ERREUR : Le test de connexion a échoué"));
        return;
    }
    if (!TestAccess(service(), m_settings.FichierZip, m_settings.Usager, m_settings.MotDePasse,
                    m_ui.errorBox(this))) {
        m_ui.error(this, QStringLiteral("ERREUR : Le test d'accès a échoué"));
        return;
    }
    if (m_actions.checkForUpdate)
        m_actions.checkForUpdate(this);
}

void TFormParametres::epuration()
{
    if (!m_settings.Conserver
        && !m_ui.confirm(this, QStringLiteral("Vos paramètres indiquent que vous ne désirez pas \r"
                                              "conserver les images.\r\rL'épuration sera donc complète.\r\r"
                                              "Confirmer svp.\r"))) {
        m_ui.information(this, QStringLiteral("Opération annulée"));
        return;
    }
    if (m_actions.purgeWindow)
        m_actions.purgeWindow(this);
}

void TFormParametres::retentionLeft()
{
    bool ok = false;
    int days = common::profileInteger(edit("Epurer")->text(), &ok);
    if (!ok)
        days = 0;
    QAbstractButton *conserver = check("Conserver");
    if (days <= 0 && conserver->isChecked()) {
        conserver->setChecked(false);
        m_ui.information(this, QStringLiteral("Le paramètre de conservation des DICOMDIRs été désactivé\r\r"
                                              "Pour qu'il demeure actif, il faut inscrire une durée de "
                                              "conservation\rsupérieure à 0\r"));
    } else if (days > 0 && !conserver->isChecked()) {
        conserver->setChecked(true);
        m_ui.information(this, QStringLiteral("Le paramètre de conservation des DICOMDIRs été activé"));
    }
}

bool TFormParametres::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && watched == edit("Epurer"))
        retentionLeft();
    return QDialog::eventFilter(watched, event);
}

void TFormParametres::sauvegarder()
{
    QString invalid;
    if (m_settings.RepDestination.endsWith(u'\\'))
        invalid = QStringLiteral("Répertoire destination invalide\r\rNe pas inscrire le \"\\\" à la fin\r");
    else if (m_settings.DirDictee.endsWith(u'\\'))
        invalid = QStringLiteral("Répertoire des dictées invalide\r\rNe pas inscrire le \"\\\" à la fin\r");
    if (!invalid.isEmpty()) {
        m_ui.error(this, invalid);
        m_ui.error(this, QStringLiteral("L'enregistrement des paramètres est impossible."));
        return;
    }
    if (m_ui.confirm(this, QStringLiteral("Voulez-vous enregistrer les paramètres ?"))) {
        if (!m_settings.write()) {
            // The edits stay in the dialog so that nothing typed is lost.
            m_ui.error(this, QStringLiteral("L'enregistrement des paramètres est impossible.\r\r")
                                 + m_settings.file() + QStringLiteral("\r") + m_settings.errorString());
            return;
        }
    } else {
        m_settings.read();
    }
    accept();
}

} // namespace strandel
