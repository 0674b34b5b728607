#pragma once

#include "transfer/core/clientui.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace strandel {

class TransferSettings;

// First-time configuration: user code, password, user name and, when they
// are not both set yet, the server address and alias; optionally creates the
// desktop shortcuts.
class TFormConfig : public QDialog {
    Q_OBJECT
public:
    // Creates the ticked shortcuts (transfer client, viewer). When empty the
    // shortcut boxes are shown disabled.
    using ShortcutFunction = std::function<void(bool strandel, bool viewer)>;

    TFormConfig(TransferSettings &settings, const ClientUi &ui, bool noShortcuts,
                ShortcutFunction shortcuts, QWidget *parent = nullptr);

    QLineEdit *usagerEdit() const { return m_usager; }
    QLineEdit *motDePasseEdit() const { return m_motDePasse; }
    QLineEdit *fichierZipEdit() const { return m_fichierZip; }
    QLineEdit *adresseIpEdit() const { return m_adresseIp; }
    QLineEdit *portEdit() const { return m_port; }
    QLineEdit *aliasEdit() const { return m_alias; }
    QGroupBox *serverGroup() const { return m_serverGroup; }
    QGroupBox *shortcutGroup() const { return m_shortcutGroup; }
    QCheckBox *strandelShortcut() const { return m_strandelBox; }
    QCheckBox *viewerShortcut() const { return m_viewerBox; }
    QPushButton *configurerButton() const { return m_configurer; }

    // "Configurer".
    void configurer();

private:
    TransferSettings &m_settings;
    ClientUi m_ui;
    ShortcutFunction m_shortcuts;
    QLineEdit *m_usager, *m_motDePasse, *m_fichierZip, *m_adresseIp, *m_port, *m_alias;
    QGroupBox *m_serverGroup, *m_shortcutGroup;
    QCheckBox *m_strandelBox, *m_viewerBox;
    QPushButton *m_configurer;
};

} // namespace strandel
