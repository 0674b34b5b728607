#include "viewer/dictation/formdicteeradiologiste.h"

#include "common/profilefile.h"

#include <QApplication>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

// Upper case as it is typed.
class UpperCaseValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------

TFormDicteeAjouterRadiologiste::TFormDicteeAjouterRadiologiste(const QString &section, const QString &iniPath,
                                                               QWidget *parent)
    : TTemplate6(QStringLiteral("Ajouter un radiologiste"), parent), section_(section), iniPath_(iniPath)
{
    setObjectName(QStringLiteral("FormDicteeAjouterRadiologiste"));
    auto *form = new QFormLayout(Content());
    auto field = [this, form](const QString &name, const QString &caption) {
        auto *edit = new QLineEdit(Content());
        edit->setObjectName(name);
        edit->installEventFilter(this);
        form->addRow(new QLabel(caption, Content()), edit);
        return edit;
    };
    EditNom = field(QStringLiteral("EditNom"), QStringLiteral("Nom"));
    EditLicence = field(QStringLiteral("EditLicence"), QStringLiteral("Licence"));
    EditGroupe = field(QStringLiteral("EditGroupe"), QStringLiteral("Groupe"));
    EditNom->setValidator(new UpperCaseValidator(EditNom));
    // Digits only (backspace and the other editing keys work as usual).
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    EditLicence->setValidator(new QRegularExpressionValidator(digits, EditLicence));
    EditGroupe->setValidator(new QRegularExpressionValidator(digits, EditGroupe));
    resize(420, 230);
}

void TFormDicteeAjouterRadiologiste::showEvent(QShowEvent *event)
{
    TTemplate6::showEvent(event);
    // Opening clears the dialog; showing it again after the application was minimized
    // keeps what was typed.
    if (event->spontaneous())
        return;
    EditNom->clear();
    EditLicence->clear();
    EditGroupe->clear();
    Result = {};
    EditNom->setFocus();
}

bool TFormDicteeAjouterRadiologiste::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        if (auto *edit = qobject_cast<QLineEdit *>(watched)) {
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Base,
                             event->type() == QEvent::FocusIn ? FocusColour() : QApplication::palette().color(QPalette::Base));
            edit->setPalette(palette);
        }
    }
    return TTemplate6::eventFilter(watched, event);
}

void TFormDicteeAjouterRadiologiste::Confirm()
{
    const QString name = EditNom->text().trimmed().toUpper();
    const QString licence = EditLicence->text().trimmed();
    const QString group = EditGroupe->text().trimmed();
    auto refuse = [](const QString &text, QLineEdit *edit) {
        TemplateDM().ShowMessageDialog(text, TMsgDlgType::mtError, mbOK);
        edit->setFocus();
    };
    if (name.isEmpty()) {
        refuse(QStringLiteral("Vous devez entrer un nom de radiologiste."), EditNom);
        return;
    }
    // The name is the key of a profile line: "=" would cut it, "[" or ";" at its start
    // would make the line a section or a comment.
    if (name.contains(QLatin1Char('=')) || name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char(';'))) {
        refuse(QStringLiteral("Le nom du radiologiste ne peut pas contenir « = » ni commencer par « [ » ou « ; »."),
               EditNom);
        return;
    }
    if (licence.isEmpty()) {
        refuse(QStringLiteral("Vous devez entrer un numéro de licence."), EditLicence);
        return;
    }
    common::ProfileFile file(iniPath_);
    // Written only as a regular file in its folder, never through a link placed there.
    file.setLinksRefused(true);
    if (!file.load()) {
        refuse(QStringLiteral("Impossible de lire la liste des radiologistes %1 :\r%2").arg(iniPath_, file.errorString()),
               EditNom);
        return;
    }
    file.writeString(section_, name, dictation::RadiologistValue(licence, group));
    if (!file.save()) {
        refuse(QStringLiteral("Impossible d'écrire la liste des radiologistes %1 :\r%2").arg(iniPath_, file.errorString()),
               EditNom);
        return;
    }
    Result = {name, licence, group};
    CloseWithResult(mrOk);
}

// ---------------------------------------------------------------------------------------

TFormDicteeConfirmerRadiologiste::TFormDicteeConfirmerRadiologiste(const QString &section, const QString &iniPath,
                                                                   QWidget *parent)
    : TTemplate6(QStringLiteral("Chercher un radiologiste"), parent), section_(section), iniPath_(iniPath)
{
    setObjectName(QStringLiteral("FormDicteeConfirmerRadiologiste"));
    auto *layout = new QVBoxLayout(Content());
    ListeRadiologistes = new QListWidget(Content());
    ListeRadiologistes->setObjectName(QStringLiteral("ListeRadiologistes"));
    ListeRadiologistes->setSelectionMode(QAbstractItemView::SingleSelection);
    ListeRadiologistes->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListeRadiologistes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(ListeRadiologistes);
    resize(420, 320);
}

void TFormDicteeConfirmerRadiologiste::showEvent(QShowEvent *event)
{
    TTemplate6::showEvent(event);
    if (event->spontaneous())
        return; // restored after minimizing: the list and the selection stay
    Result = {};
    ListeRadiologistes->clear();
    ListeRadiologistes->addItems(dictation::RadiologistNames(iniPath_));
    ListeRadiologistes->setFocus();
}

void TFormDicteeConfirmerRadiologiste::Confirm()
{
    QListWidgetItem *item = ListeRadiologistes->currentItem();
    if (!item || !item->isSelected())
        return;
    Result = dictation::ReadRadiologist(iniPath_, item->text());
    CloseWithResult(mrOk);
}

void TFormDicteeConfirmerRadiologiste::Cancel()
{
    Result = {};
    CloseWithResult(mrCancel);
}
