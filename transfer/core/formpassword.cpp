#include "transfer/core/formpassword.h"

#include "transfer/core/transfersettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace strandel {

TFormPassWord::TFormPassWord(TransferSettings &settings, const ClientUi &ui, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_ui(ui)
{
    setWindowTitle(kApplicationTitle);
    setObjectName(QStringLiteral("FormPassWord"));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("Images radiologiques via internet"), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);
    m_user = new QLabel(this);
    m_user->setAlignment(Qt::AlignCenter);
    QFont bold = m_user->font();
    bold.setBold(true);
    m_user->setFont(bold);
    auto *prompt = new QLabel(QStringLiteral("Entrez votre mot de passe "), this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("EditPassWord"));
    m_edit->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "X".
    m_edit->setStyleSheet(QStringLiteral("lineedit-password-character: 88"));
    setUpperCase(m_edit, true);
    auto *hint = new QLabel(QStringLiteral("Entrez votre mot de passe et appuyez sur \"Enter\""), this);
    layout->addWidget(title);
    layout->addWidget(m_user);
    layout->addSpacing(8);
    layout->addWidget(prompt);
    layout->addWidget(m_edit);
    layout->addWidget(hint);
    setFixedWidth(360);
    connect(m_edit, &QLineEdit::returnPressed, this, &TFormPassWord::tryPassword);
}

void TFormPassWord::prepare()
{
    m_settings.read();
    m_attempts = 0;
    m_edit->clear();
    m_user->setText(m_settings.FichierZip);
    m_edit->setFocus();
}

void TFormPassWord::tryPassword()
{
    ++m_attempts;
    if (m_edit->text() == m_settings.MotDePasse) {
        accept();
        return;
    }
    m_ui.error(this, QStringLiteral("Mot de passe invalide"));
    m_edit->clear();
    if (m_attempts >= 3)
        reject();
}

} // namespace strandel
