#pragma once

#include "transfer/core/clientui.h"

#include <QDialog>
#include <QHash>

#include <functional>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace strandel {

class SoapClient;
class TFormRequete;
class TransferSettings;

// The parameters dialog: three tabs ("Accès", "Personnaliser", "Options")
// bound to the settings. Every edit goes into the settings at once (so the
// test buttons use what is typed); "Sauvegarder" writes them or reads them
// back, and closing the window any other way leaves the edits in effect
// without writing them.
class TFormParametres : public QDialog {
    Q_OBJECT
public:
    struct Actions {
        // Looks for an update with its informative messages. Empty: the
        // "Mise à jour" button is disabled.
        std::function<void(QWidget *parent)> checkForUpdate;
        // Opens the purge window. Empty: the "Épuration" button is disabled.
        std::function<void(QWidget *parent)> purgeWindow;
    };

    TFormParametres(TransferSettings &settings, SoapClient &soap, const ClientUi &ui,
                    TFormRequete *requete, Actions actions, QWidget *parent = nullptr);

    // Opening: reads the settings into the controls, shows "Accès".
    void prepare();

    QTabWidget *tabs() const { return m_tabs; }
    QLineEdit *edit(const char *key) const;      // by settings key, e.g. "Epurer"
    QAbstractButton *check(const char *key) const; // check or radio box by key
    QLabel *label(const char *key) const;         // the caption of a key's field
    QPushButton *button(const QString &caption) const;

    // The buttons.
    void testerConnexion();
    void testerAcces();
    void fichierDisponible();
    void miseAJour();
    void epuration();
    void sauvegarder();
    // Leaving the retention field.
    void retentionLeft();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *addText(QWidget *parent, const char *key, QString TransferSettings::*member);
    QCheckBox *addCheck(QWidget *parent, const char *key, const QString &caption,
                        bool TransferSettings::*member);
    QRadioButton *addRadio(QWidget *parent, const char *key, const QString &caption,
                           bool TransferSettings::*member);
    QLabel *addLabel(QWidget *parent, const char *key, const QString &caption);
    QPushButton *addButton(QWidget *parent, const QString &caption, const QString &hint);
    QWidget *buildAcces();
    QWidget *buildPersonnaliser();
    QWidget *buildOptions();
    void load();
    class IEchoService &service();

    TransferSettings &m_settings;
    SoapClient &m_soap;
    ClientUi m_ui;
    TFormRequete *m_requete;
    Actions m_actions;
    QTabWidget *m_tabs = nullptr;
    bool m_loading = false;

    struct TextBinding {
        QLineEdit *edit;
        QString TransferSettings::*member;
    };
    struct BoolBinding {
        QAbstractButton *box;
        bool TransferSettings::*member;
    };
    QHash<QString, TextBinding> m_texts;
    QHash<QString, BoolBinding> m_bools;
    QHash<QString, QLabel *> m_labels;
    QList<QPushButton *> m_buttons;
};

} // namespace strandel
