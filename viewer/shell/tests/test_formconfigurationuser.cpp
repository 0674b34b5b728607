// The user configuration dialog on a real settings file: what it shows, the
// three modes, the checks of "Appliquer", deleting, the typing filters, the
// numeric preferences and store errors.

#include "viewer/shell/formconfigurationuser.h"

#include "shelltesting.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kCT = QStringLiteral("CT");

class ConfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override { Start(); }

    void Start()
    {
        shell.Create();
        TemplateDM().SeedDefaultPresets();
    }
    void Open()
    {
        form = std::make_unique<TFormConfigurationUser>();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void OpenOn(const QString &modality)
    {
        Open();
        form->PageControl->setCurrentIndex(1);
        form->TabControlModalites->setCurrentIndex(TFormConfigurationUser::Modalities().indexOf(modality));
        QCoreApplication::processEvents();
    }
    const TSettingsStore &Store() { return TemplateDM().Settings(); }
    QTableWidget *Grid() { return form->StrGrReglages; }
    QString Cell(int row, int column)
    {
        const auto *item = Grid()->item(row, column);
        return item ? item->text() : QString();
    }
    QStringList Row(int row) { return {Cell(row, 0), Cell(row, 1), Cell(row, 2), Cell(row, 3)}; }
    int RowOf(const QString &name)
    {
        for (int r = 0; r < Grid()->rowCount(); ++r)
            if (Cell(r, 0) == name)
                return r;
        return -1;
    }
    void ClickRow(int row)
    {
        const QRect rect = Grid()->visualItemRect(Grid()->item(row, 0));
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    static void Type(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }
    // Add mode filled in and applied (an empty shortcut chooses none).
    void Add(const QString &name, const QString &width, const QString &level, const QString &shortCut)
    {
        form->ButtonAjouter->click();
        Type(form->EditDesc, name);
        Type(form->EditWidth, width);
        Type(form->EditLevel, level);
        form->ComboBoxSCut->setCurrentIndex(TFormConfigurationUser::ShortCuts().indexOf(shortCut));
        form->ButtonAppliquer->click();
    }
    QStringList Texts()
    {
        QStringList texts;
        for (const auto &m : shell.messages)
            texts << m.text;
        return texts;
    }
    void ExpectButtons(bool ajouter, bool modifier, bool effacer, bool appliquer, bool annuler)
    {
        EXPECT_EQ(form->ButtonAjouter->isEnabled(), ajouter);
        EXPECT_EQ(form->ButtonModifier->isEnabled(), modifier);
        EXPECT_EQ(form->ButtonEffacer->isEnabled(), effacer);
        EXPECT_EQ(form->ButtonAppliquer->isEnabled(), appliquer);
        EXPECT_EQ(form->ButtonAnnuler->isEnabled(), annuler);
    }
    void ExpectFields(bool desc, bool width, bool level, bool shortCut)
    {
        EXPECT_EQ(form->EditDesc->isEnabled(), desc);
        EXPECT_EQ(form->EditWidth->isEnabled(), width);
        EXPECT_EQ(form->EditLevel->isEnabled(), level);
        EXPECT_EQ(form->ComboBoxSCut->isEnabled(), shortCut);
    }

    ShellFixture shell;
    std::unique_ptr<TFormConfigurationUser> form;
};

} // namespace

TEST_F(ConfigurationTest, ShowsThePreferencesAndEachModalitysPresetsInThePaintedGrid)
{
    ASSERT_TRUE(TemplateDM().WriteUserInteger("LineWidth", 3));
    ASSERT_TRUE(TemplateDM().WriteUserInteger("FontSize", 12));
    Open();
    EXPECT_EQ(form->PageControl->tabText(0), QStringLiteral("Préférences"));
    EXPECT_EQ(form->PageControl->tabText(1), QStringLiteral("Modalités"));
    EXPECT_EQ(form->MaskEditLineWidth->text(), "3");
    EXPECT_EQ(form->MaskEditFontSize->text(), "12");
    EXPECT_FALSE(form->CloseOnRightClick);
    ASSERT_EQ(form->TabControlModalites->count(), 12);
    EXPECT_EQ(form->TabControlModalites->tabText(11), "XA");
    EXPECT_EQ(form->ComboBoxSCut->count(), 18);
    EXPECT_EQ(form->ComboBoxSCut->itemText(9), "Alt+F2");

    form->PageControl->setCurrentIndex(1);
    form->TabControlModalites->setCurrentIndex(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Modality(), kCT);
    ASSERT_EQ(Grid()->rowCount(), 7);
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << Grid()->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headers, (QStringList{"Description", "Intensité", "Contraste", "Raccourci"}));
    EXPECT_EQ(Grid()->columnWidth(0), 177);
    EXPECT_EQ(Grid()->columnWidth(3), 64);
    EXPECT_EQ(Grid()->rowHeight(4), 20);
    const int abdomen = RowOf("Abdomen");
    ASSERT_EQ(abdomen, 0);
    EXPECT_EQ(Row(abdomen), (QStringList{"Abdomen", "500", "-10", "F2"}));
    EXPECT_EQ(Row(RowOf(QStringLiteral("Os tête"))), (QStringList{QStringLiteral("Os tête"), "4000", "600", "F8"}));
    // The first row is in the fields, which stay disabled in mode none.
    EXPECT_EQ(form->EditDesc->text(), "Abdomen");
    EXPECT_EQ(form->ComboBoxSCut->currentText(), "F2");
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::None);
    ExpectFields(false, false, false, false);
    ExpectButtons(true, true, true, false, false);

    // Painting: the selected first row in highlight colours, the second light blue,
    // the third white, the text 2 pixels in.
    const QImage shot = Grid()->viewport()->grab().toImage();
    const QRect second = Grid()->visualItemRect(Grid()->item(1, 1));
    const QRect third = Grid()->visualItemRect(Grid()->item(2, 1));
    const QRect first = Grid()->visualItemRect(Grid()->item(0, 3));
    EXPECT_EQ(QColor(shot.pixel(second.right() - 2, second.bottom() - 1)), QColor(234, 244, 255));
    EXPECT_EQ(QColor(shot.pixel(third.right() - 2, third.bottom() - 1)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(first.right() - 2, first.bottom() - 1)), Grid()->palette().color(QPalette::Highlight));
    EXPECT_EQ(QColor(shot.pixel(second.left() + 1, second.top() + 1)), QColor(234, 244, 255));

    // A modality without presets: one empty row, nothing to modify or delete.
    form->TabControlModalites->setCurrentIndex(TFormConfigurationUser::Modalities().indexOf("MR"));
    EXPECT_EQ(Grid()->rowCount(), 1);
    EXPECT_EQ(Row(0), (QStringList{"", "", "", ""}));
    EXPECT_TRUE(Grid()->selectedItems().isEmpty());
    EXPECT_TRUE(form->EditDesc->text().isEmpty());
    ExpectButtons(true, false, false, false, false);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(ConfigurationTest, AddChecksItsFieldsInOrderAndRefusesAnExistingName)
{
    OpenOn(kCT);
    form->ButtonAjouter->click();
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::Add);
    ExpectFields(true, true, true, true);
    ExpectButtons(false, false, false, true, true);
    EXPECT_TRUE(form->EditDesc->hasFocus());
    EXPECT_EQ(form->ComboBoxSCut->currentIndex(), -1);

    // The message kept is the last that applies: description, width, level, shortcut.
    form->ButtonAppliquer->click();
    Type(form->EditDesc, "Foie");
    form->ButtonAppliquer->click();
    Type(form->EditWidth, "150");
    form->ButtonAppliquer->click();
    Type(form->EditLevel, "60");
    form->ButtonAppliquer->click();
    EXPECT_EQ(Texts(), (QStringList{"Vous devez entrer une description!", "Vous devez entrer une valeur d'intensité!",
                                    "Vous devez entrer une valeur de contraste!",
                                    "Vous devez entrer une touche de racourci!"}));
    for (const auto &m : shell.messages) {
        EXPECT_EQ(m.kind, TMsgDlgType::mtInformation);
        EXPECT_EQ(m.buttons, mbOK);
    }
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::Add);
    EXPECT_FALSE(Store().PresetExists(kCT, "Foie"));

    // A width or level that is not a whole number: an error, nothing written.
    shell.messages.clear();
    form->ComboBoxSCut->setCurrentIndex(3); // F5, the key of "Poumon"
    Type(form->EditWidth, "15.5");
    form->ButtonAppliquer->click();
    Type(form->EditWidth, "150");
    Type(form->EditLevel, "6O");
    form->ButtonAppliquer->click();
    ASSERT_EQ(shell.messages.size(), 2);
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_TRUE(shell.messages[0].text.contains("intensité"));
    EXPECT_TRUE(shell.messages[1].text.contains("contraste"));
    EXPECT_FALSE(Store().PresetExists(kCT, "Foie"));
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::Add);

    // Valid: written, a new last row that becomes the current one. Two presets share F5.
    shell.messages.clear();
    Type(form->EditLevel, "-60");
    form->ButtonAppliquer->click();
    EXPECT_TRUE(shell.messages.empty());
    const auto foie = Store().ReadPreset(kCT, "Foie");
    ASSERT_TRUE(foie.has_value());
    EXPECT_EQ(foie->Width, 150);
    EXPECT_EQ(foie->Level, -60);
    EXPECT_EQ(foie->ShortCut, "F5");
    EXPECT_EQ(Store().ReadPreset(kCT, "Poumon")->ShortCut, "F5");
    ASSERT_EQ(Grid()->rowCount(), 8);
    EXPECT_EQ(Row(7), (QStringList{"Foie", "150", "-60", "F5"}));
    EXPECT_EQ(form->CurrentRow(), 7);
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::None);
    ExpectFields(false, false, false, false);

    // "Poumon" exists: the "existe déjà" message and the stored preset unchanged.
    shell.messages.clear();
    Add("Poumon", "1000", "-500", "F9");
    ASSERT_EQ(Texts(), QStringList{QStringLiteral(
                           "Cette entrée existe déjà choisissez une description différente ou utilisez modifier!")});
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtInformation);
    const auto poumon = Store().ReadPreset(kCT, "Poumon");
    EXPECT_EQ(poumon->Width, 1800);
    EXPECT_EQ(poumon->Level, -700);
    EXPECT_EQ(Grid()->rowCount(), 8);
    EXPECT_EQ(Store().ListPresets(kCT).size(), 8);

    // The first preset of a modality fills its empty row.
    form->TabControlModalites->setCurrentIndex(TFormConfigurationUser::Modalities().indexOf("US"));
    Add("Foie", "200", "50", "Alt+F10");
    ASSERT_EQ(Grid()->rowCount(), 1);
    EXPECT_EQ(Row(0), (QStringList{"Foie", "200", "50", "Alt+F10"}));
    EXPECT_EQ(Store().ReadPreset("US", "Foie")->ShortCut, "Alt+F10");
}

TEST_F(ConfigurationTest, ModifyChangesOnlyWindowAndKeyOfTheSelectedPresetAndCancelRestores)
{
    OpenOn(kCT);
    const int row = RowOf(QStringLiteral("Os tête"));
    ASSERT_GE(row, 0);
    ClickRow(row);
    EXPECT_EQ(form->EditDesc->text(), QStringLiteral("Os tête"));
    EXPECT_EQ(form->EditWidth->text(), "4000");

    form->ButtonModifier->click();
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::Modify);
    ExpectFields(false, true, true, true);
    ExpectButtons(false, false, false, true, true);
    EXPECT_TRUE(form->EditWidth->hasFocus());
    Type(form->EditWidth, "3500");
    Type(form->EditLevel, "550");
    form->ComboBoxSCut->setCurrentIndex(TFormConfigurationUser::ShortCuts().indexOf("Alt+F8"));
    form->ButtonAppliquer->click();
    EXPECT_TRUE(shell.messages.empty());
    const auto osTete = Store().ReadPreset(kCT, QStringLiteral("Os tête"));
    EXPECT_EQ(osTete->Width, 3500);
    EXPECT_EQ(osTete->Level, 550);
    EXPECT_EQ(osTete->ShortCut, "Alt+F8");
    EXPECT_EQ(Row(row), (QStringList{QStringLiteral("Os tête"), "3500", "550", "Alt+F8"}));
    EXPECT_EQ(Store().ListPresets(kCT).size(), 7);
    ExpectButtons(true, true, true, false, false);

    // "Annuler" drops what was typed: the fields show the row again.
    ClickRow(0);
    form->ButtonModifier->click();
    Type(form->EditWidth, "9");
    form->ButtonAnnuler->click();
    EXPECT_EQ(form->EditWidth->text(), "500");
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::None);
    EXPECT_EQ(Store().ReadPreset(kCT, "Abdomen")->Width, 500);
    // Escape does the same while editing, and closes the dialog otherwise.
    form->ButtonModifier->click();
    Type(form->EditWidth, "9");
    QTest::keyClick(form->EditWidth, Qt::Key_Escape);
    EXPECT_EQ(form->EditWidth->text(), "500");
    EXPECT_EQ(form->Mode(), TFormConfigurationUser::TEditMode::None);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(shell.messages.empty());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Store().ReadPreset(kCT, "Abdomen")->Width, 500);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->TabControlModalites->setCurrentIndex(1);
    ClickRow(0);

    // A preset deleted behind the dialog's back is not written again by "Modifier".
    ASSERT_TRUE(Store().DeletePreset(kCT, "Abdomen"));
    form->ButtonModifier->click();
    Type(form->EditWidth, "510");
    form->ButtonAppliquer->click();
    EXPECT_EQ(Texts(), QStringList{QStringLiteral(
                           "Cette entrée n'existe pas déjà choisissez une description existante ou utilisez ajouter!")});
    EXPECT_FALSE(Store().PresetExists(kCT, "Abdomen"));
}

TEST_F(ConfigurationTest, TypingFiltersRefuseWithTheirMessageAndDeleteAsksFirst)
{
    OpenOn(kCT);
    form->ButtonAjouter->click();
    QTest::keyClicks(form->EditDesc, "Os t");
    QTest::keyClick(form->EditDesc, Qt::Key_Backspace);
    QTest::keyClicks(form->EditDesc, "e-2");
    EXPECT_EQ(form->EditDesc->text(), "Ose-");
    ASSERT_EQ(shell.messages.size(), 2);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Caractère invalide. Lettres de l'alphabet requises!"));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(shell.messages[1].text, shell.messages[0].text);
    // Keys that move or delete are not typing.
    QTest::keyClick(form->EditDesc, Qt::Key_Left);
    QTest::keyClick(form->EditDesc, Qt::Key_Delete);
    EXPECT_EQ(form->EditDesc->text(), "Ose");
    EXPECT_EQ(shell.messages.size(), 2);

    shell.messages.clear();
    QTest::keyClicks(form->EditWidth, "1a2 -");
    EXPECT_EQ(form->EditWidth->text(), "12-");
    ASSERT_EQ(shell.messages.size(), 2);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Caractère invalide. Valeurs numériques requises!"));
    // The level takes anything, a minus sign included.
    shell.messages.clear();
    QTest::keyClicks(form->EditLevel, "-7x ");
    EXPECT_EQ(form->EditLevel->text(), "-7x ");
    EXPECT_TRUE(shell.messages.empty());
    form->ButtonAnnuler->click();

    // "Effacer" asks; No keeps the preset, Yes deletes it and refills the grid.
    const int row = RowOf(QStringLiteral("Os tête"));
    ClickRow(row);
    shell.answer = mrNo;
    form->ButtonEffacer->click();
    ASSERT_EQ(shell.messages.size(), 1);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Désirez-vous vraiment effacer le préréglage?"));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(shell.messages[0].buttons, mbYes | mbNo);
    EXPECT_TRUE(Store().PresetExists(kCT, QStringLiteral("Os tête")));
    shell.answer = mrYes;
    form->ButtonEffacer->click();
    EXPECT_FALSE(Store().PresetExists(kCT, QStringLiteral("Os tête")));
    EXPECT_EQ(Grid()->rowCount(), 6);
    EXPECT_EQ(RowOf(QStringLiteral("Os tête")), -1);
    EXPECT_EQ(form->EditDesc->text(), Cell(0, 0));
}

TEST_F(ConfigurationTest, TheFiltersApplyToPastedTextAndNamesDifferingInCaseAreOne)
{
    OpenOn(kCT);
    form->ButtonAjouter->click();
    QClipboard *clipboard = QGuiApplication::clipboard();
    // Shift+Insert, the context menu's "Coller" (paste()), and a text inserted as the
    // middle button's selection or a drop inserts it.
    auto pasteEveryWay = [&](QLineEdit *field, const QString &text) {
        QStringList results;
        field->setFocus();
        clipboard->setText(text);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
        results << field->text();
        field->paste();
        results << field->text();
        field->insert(text);
        results << field->text();
        if (clipboard->supportsSelection()) {
            clipboard->setText(text, QClipboard::Selection);
            QTest::mouseClick(field, Qt::MiddleButton);
            results << field->text();
        }
        return results;
    };
    for (const QString &text : {QStringLiteral("Abdo/Pelvis"), QStringLiteral("Abdo\\Pelvis"), QStringLiteral("Os 2")})
        for (const QString &result : pasteEveryWay(form->EditDesc, text))
            EXPECT_EQ(result, "") << text.toStdString();
    for (const QString &result : pasteEveryWay(form->EditWidth, QStringLiteral("12a")))
        EXPECT_EQ(result, "");
    // The preferences' numeric fields hold at most two digits, whatever is pasted.
    for (QLineEdit *numeric : {form->MaskEditLineWidth, form->MaskEditFontSize}) {
        numeric->clear();
        clipboard->setText(QStringLiteral("a1"));
        numeric->paste();
        numeric->insert(QStringLiteral("/3"));
        numeric->insert(QStringLiteral("456"));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{0,2}$")).match(numeric->text()).hasMatch())
            << numeric->text().toStdString();
    }
    // What the filter lets through is pasted as it is.
    clipboard->setText(QStringLiteral("Abdo-Pelvis"));
    form->EditDesc->setFocus();
    QTest::keyClick(form->EditDesc, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(form->EditDesc->text(), "Abdo-Pelvis");
    form->ButtonAnnuler->click();
    EXPECT_EQ(RowOf(QStringLiteral("Abdo")), -1);
    EXPECT_FALSE(Store().PresetExists(kCT, QStringLiteral("Abdo")));

    // "poumon" when "Poumon" exists is the same preset.
    shell.messages.clear();
    const int rows = Grid()->rowCount();
    Add(QStringLiteral("poumon"), "1500", "-500", "F9");
    EXPECT_EQ(Texts(),
              QStringList{QStringLiteral("Cette entrée existe déjà choisissez une description différente ou utilisez modifier!")});
    EXPECT_EQ(Grid()->rowCount(), rows);
    EXPECT_EQ(Store().ReadPreset(kCT, QStringLiteral("Poumon"))->Width, 1800);
    EXPECT_FALSE(Store().ListPresets(kCT).contains(QStringLiteral("poumon")));
}

TEST_F(ConfigurationTest, NumericPreferencesAreWrittenOnLeavingAndOnClosing)
{
    ASSERT_TRUE(TemplateDM().WriteUserInteger("LineWidth", 4));
    Open();
    // Cleared and left: 0 is written, which labels then use as 2.
    Type(form->MaskEditLineWidth, QString());
    EXPECT_EQ(form->MaskEditLineWidth->text(), "");
    EXPECT_EQ(Store().ReadUserInteger("LineWidth"), 4);
    form->MaskEditFontSize->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Store().ReadUserInteger("LineWidth"), 0);
    EXPECT_EQ(Store().LabelLineWidth(), 2);

    // Two digits at most, digits only.
    Type(form->MaskEditFontSize, "2x05");
    EXPECT_EQ(form->MaskEditFontSize->text(), "20");
    // Closing with the focus in the field keeps what was typed.
    form->close();
    EXPECT_EQ(Store().ReadUserInteger("FontSize"), 20);
    EXPECT_EQ(Store().LabelFontSize(), 20);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(ConfigurationTest, StoreErrorsShowTheStoresMessageAndChangeNothingOnScreen)
{
    auto memory = std::make_shared<platform::MemorySettingsScope>();
    shell.dm.reset();
    shell.services.User = memory;
    Start();
    memory->FailWritesFrom(memory->WriteAttempts() + 1);
    OpenOn(kCT);
    ASSERT_EQ(Grid()->rowCount(), 7);

    Add("Foie", "150", "60", "F9");
    ASSERT_EQ(shell.messages.size(), 1);
    EXPECT_TRUE(shell.messages[0].text.startsWith(QStringLiteral("Il y a un problème pour accéder aux régistres: \r")))
        << shell.messages[0].text.toStdString();
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(Grid()->rowCount(), 7);
    EXPECT_EQ(form->EditDesc->text(), Cell(form->CurrentRow(), 0));

    // A preference that cannot be written: one message, however the focus moves after it.
    shell.messages.clear();
    form->PageControl->setCurrentIndex(0);
    Type(form->MaskEditLineWidth, "5");
    form->MaskEditFontSize->setFocus(Qt::TabFocusReason);
    form->MaskEditLineWidth->setFocus(Qt::TabFocusReason);
    form->MaskEditFontSize->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(shell.messages.size(), 2); // each real leave of the changed field tries again
    EXPECT_EQ(Store().ReadUserInteger("LineWidth"), 0);
}
