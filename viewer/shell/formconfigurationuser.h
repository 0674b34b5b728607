#pragma once
// The user configuration dialog: the line width and font size of annotations
// ("Préférences") and the window presets of each modality with their function
// keys ("Modalités"). Every change is written to the settings store at once;
// there is no global OK or Cancel.

#include "viewer/shell/forms.h"

#include <QStringList>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class QTabWidget;
class QTableWidget;

class TFormConfigurationUser : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormConfigurationUser(QWidget *parent = nullptr);

    enum class TEditMode { None, Add, Modify };

    // The modalities offered, in tab order.
    static const QStringList &Modalities();
    // The shortcuts offered, in list order.
    static const QStringList &ShortCuts();

    QTabWidget *PageControl = nullptr; // "Préférences", "Modalités"
    QLineEdit *MaskEditLineWidth = nullptr;
    QLineEdit *MaskEditFontSize = nullptr;
    QTabBar *TabControlModalites = nullptr;
    QGroupBox *GroupBoxReglages = nullptr;
    QTableWidget *StrGrReglages = nullptr;
    QLineEdit *EditDesc = nullptr;
    QLineEdit *EditWidth = nullptr;
    QLineEdit *EditLevel = nullptr;
    QComboBox *ComboBoxSCut = nullptr;
    QPushButton *ButtonAjouter = nullptr;
    QPushButton *ButtonModifier = nullptr;
    QPushButton *ButtonEffacer = nullptr;
    QPushButton *ButtonAppliquer = nullptr;
    QPushButton *ButtonAnnuler = nullptr;

    TEditMode Mode() const { return mode_; }
    QString Modality() const;
    // The grid row the fields belong to (0 for the first preset).
    int CurrentRow() const;

    // Handlers.
    void TabControlModalitesChange();
    void StrGrReglagesSelectCell(int row);
    void ButtonAjouterClick();
    void ButtonModifierClick();
    void ButtonEffacerClick();
    void ButtonAppliquerClick();
    void ButtonAnnulerClick();
    // Writes a numeric preference field ("LineWidth" or "FontSize") as the user left it.
    void NumericFieldExit(QLineEdit *field);

    // The grid's colours of unselected rows, from the first preset on.
    static QColor RowColour(int row);

    static constexpr int kColumnWidths[4] = {177, 67, 66, 64};
    static constexpr int kRowHeight = 20;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetMode(TEditMode mode);
    void ShowRow(int row);
    void SetRow(int row, const QString &name, const QString &width, const QString &level, const QString &shortCut);
    QString Cell(int row, int column) const;
    bool RowIsEmpty(int row) const;
    // Whether a typed character passes the field's filter (only the filtered fields).
    static bool AcceptsCharacter(const QLineEdit *field, QChar c, const TFormConfigurationUser *form);
    QString NumericName(const QLineEdit *field) const;
    int NumericValue(const QLineEdit *field) const;
    void ShowInformation(const QString &text) const;

    TEditMode mode_ = TEditMode::None;
    int currentRow_ = 0;
    // What each numeric field last showed or wrote, so that only a change is written.
    int shownLineWidth_ = 0;
    int shownFontSize_ = 0;
    bool writing_ = false;
};
