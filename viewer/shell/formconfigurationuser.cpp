#include "viewer/shell/formconfigurationuser.h"

#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <functional>

namespace {

const QString kLineWidth = QStringLiteral("LineWidth");
const QString kFontSize = QStringLiteral("FontSize");

// Characters both filtered fields let through besides letters or digits:
// backspace, enter, code 16 and a few signs.
bool CommonCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return u == 8 || u == 13 || u == 16 || QStringLiteral("#$%&'(-.").contains(c);
}

// The typing filter of a field applied to whatever enters it: typed, pasted (Shift+Insert,
// Ctrl+V, the context menu's "Coller"), the middle button's selection or a drop. Text
// holding a character the filter refuses does not enter the field.
class FieldFilterValidator : public QValidator
{
public:
    FieldFilterValidator(std::function<bool(QChar)> accepts, QObject *parent)
        : QValidator(parent), accepts_(std::move(accepts))
    {
    }
    State validate(QString &input, int &) const override
    {
        for (QChar c : input)
            if (!accepts_(c))
                return Invalid;
        return Acceptable;
    }

private:
    std::function<bool(QChar)> accepts_;
};

// Grid cells: highlight colours when selected, else alternately white and light blue;
// the text 2 pixels in from the cell's top-left corner.
class PresetGridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette &palette = option.palette;
        painter->save();
        painter->fillRect(option.rect, selected ? palette.color(QPalette::Highlight)
                                                : TFormConfigurationUser::RowColour(index.row()));
        painter->setPen(selected ? palette.color(QPalette::HighlightedText) : QColor(Qt::black));
        painter->setFont(option.font);
        const QRect text = option.rect.adjusted(2, 2, 0, 0);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

} // namespace

const QStringList &TFormConfigurationUser::Modalities()
{
    static const QStringList list{"CR", "CT", "DX", "ES", "MG", "MR", "NM", "OT", "RF", "SC", "US", "XA"};
    return list;
}

const QStringList &TFormConfigurationUser::ShortCuts()
{
    static const QStringList list = [] {
        QStringList keys;
        for (const char *prefix : {"", "Alt+"})
            for (int f = 2; f <= 10; ++f)
                keys << QStringLiteral("%1F%2").arg(QLatin1String(prefix)).arg(f);
        return keys;
    }();
    return list;
}

QColor TFormConfigurationUser::RowColour(int row) { return row % 2 == 0 ? QColor(Qt::white) : QColor(234, 244, 255); }

TFormConfigurationUser::TFormConfigurationUser(QWidget *parent) : TTemplate3(parent)
{
    setObjectName(QStringLiteral("FormConfigurationUser"));
    CloseOnRightClick = false;

    auto *layout = new QVBoxLayout(this);
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    layout->addWidget(PageControl);

    // ---- Préférences ----
    auto *preferences = new QWidget(PageControl);
    preferences->setObjectName(QStringLiteral("TabSheetPreferences"));
    auto *prefLayout = new QGridLayout(preferences);
    auto numeric = [this, preferences](const QString &name) {
        auto *edit = new QLineEdit(preferences);
        edit->setObjectName(name);
        // Two optional digits.
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), edit));
        edit->setMaxLength(2);
        edit->setFixedWidth(40);
        edit->installEventFilter(this);
        return edit;
    };
    MaskEditLineWidth = numeric(QStringLiteral("MaskEditLineWidth"));
    MaskEditFontSize = numeric(QStringLiteral("MaskEditFontSize"));
    prefLayout->addWidget(new QLabel(QStringLiteral("Epaisseur des annotations"), preferences), 0, 0);
    prefLayout->addWidget(MaskEditLineWidth, 0, 1);
    prefLayout->addWidget(new QLabel(QStringLiteral("Taille de la police des annotations"), preferences), 1, 0);
    prefLayout->addWidget(MaskEditFontSize, 1, 1);
    prefLayout->setColumnStretch(2, 1);
    prefLayout->setRowStretch(2, 1);
    PageControl->addTab(preferences, QStringLiteral("Préférences"));

    // ---- Modalités ----
    auto *modalities = new QWidget(PageControl);
    modalities->setObjectName(QStringLiteral("TabSheetModalites"));
    auto *modLayout = new QVBoxLayout(modalities);
    TabControlModalites = new QTabBar(modalities);
    TabControlModalites->setObjectName(QStringLiteral("TabControlModalites"));
    TabControlModalites->setUsesScrollButtons(false);
    TabControlModalites->setExpanding(false);
    TabControlModalites->setDrawBase(true);
    for (const QString &modality : Modalities())
        TabControlModalites->addTab(modality);
    modLayout->addWidget(TabControlModalites);

    GroupBoxReglages = new QGroupBox(QStringLiteral("[ Intensité / Contraste ]"), modalities);
    GroupBoxReglages->setObjectName(QStringLiteral("GroupBoxReglages"));
    auto *group = new QGridLayout(GroupBoxReglages);
    group->addWidget(new QLabel(QStringLiteral("Préréglages"), GroupBoxReglages), 0, 0, 1, 4);

    StrGrReglages = new QTableWidget(1, 4, GroupBoxReglages);
    StrGrReglages->setObjectName(QStringLiteral("StrGrReglages"));
    StrGrReglages->setHorizontalHeaderLabels(
        {QStringLiteral("Description"), QStringLiteral("Intensité"), QStringLiteral("Contraste"), QStringLiteral("Raccourci")});
    StrGrReglages->verticalHeader()->hide();
    StrGrReglages->verticalHeader()->setMinimumSectionSize(kRowHeight);
    StrGrReglages->verticalHeader()->setDefaultSectionSize(kRowHeight);
    StrGrReglages->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StrGrReglages->horizontalHeader()->setFixedHeight(kRowHeight);
    StrGrReglages->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StrGrReglages->horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < 4; ++c) {
        StrGrReglages->setColumnWidth(c, kColumnWidths[c]);
        StrGrReglages->horizontalHeader()->setSectionResizeMode(c, QHeaderView::Fixed);
    }
    StrGrReglages->setSelectionBehavior(QAbstractItemView::SelectRows);
    StrGrReglages->setSelectionMode(QAbstractItemView::SingleSelection);
    StrGrReglages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StrGrReglages->setWordWrap(false);
    StrGrReglages->setItemDelegate(new PresetGridDelegate(StrGrReglages));
    StrGrReglages->setMinimumWidth(177 + 67 + 66 + 64 + 2 * StrGrReglages->frameWidth()
                                   + StrGrReglages->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    group->addWidget(StrGrReglages, 1, 0, 1, 4);

    EditDesc = new QLineEdit(GroupBoxReglages);
    EditDesc->setObjectName(QStringLiteral("EditDesc"));
    EditWidth = new QLineEdit(GroupBoxReglages);
    EditWidth->setObjectName(QStringLiteral("EditWidth"));
    EditLevel = new QLineEdit(GroupBoxReglages);
    EditLevel->setObjectName(QStringLiteral("EditLevel"));
    ComboBoxSCut = new QComboBox(GroupBoxReglages);
    ComboBoxSCut->setObjectName(QStringLiteral("ComboBoxSCut"));
    ComboBoxSCut->setEditable(false); // drop-down list only
    ComboBoxSCut->addItems(ShortCuts());
    ComboBoxSCut->setMaxVisibleItems(ShortCuts().size());
    EditDesc->installEventFilter(this);
    EditWidth->installEventFilter(this);
    for (QLineEdit *field : {EditDesc, EditWidth})
        field->setValidator(new FieldFilterValidator(
            [this, field](QChar c) { return AcceptsCharacter(field, c, this); }, field));
    const QStringList captions{QStringLiteral("Description"), QStringLiteral("Intensité"), QStringLiteral("Contraste"),
                               QStringLiteral("Raccourci")};
    const QList<QWidget *> fields{EditDesc, EditWidth, EditLevel, ComboBoxSCut};
    for (int c = 0; c < 4; ++c) {
        group->addWidget(new QLabel(captions[c], GroupBoxReglages), 2, c);
        group->addWidget(fields[c], 3, c);
    }
    group->setColumnStretch(0, 3);

    auto *buttons = new QHBoxLayout;
    auto button = [this, buttons](const QString &name, const QString &caption, void (TFormConfigurationUser::*click)()) {
        auto *b = new QPushButton(caption, GroupBoxReglages);
        b->setObjectName(name);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, click] { (this->*click)(); });
        buttons->addWidget(b);
        return b;
    };
    ButtonAjouter = button(QStringLiteral("ButtonAjouter"), QStringLiteral("Ajouter"), &TFormConfigurationUser::ButtonAjouterClick);
    ButtonModifier = button(QStringLiteral("ButtonModifier"), QStringLiteral("Modifier"), &TFormConfigurationUser::ButtonModifierClick);
    ButtonEffacer = button(QStringLiteral("ButtonEffacer"), QStringLiteral("Effacer"), &TFormConfigurationUser::ButtonEffacerClick);
    ButtonAppliquer = button(QStringLiteral("ButtonAppliquer"), QStringLiteral("Appliquer"), &TFormConfigurationUser::ButtonAppliquerClick);
    ButtonAnnuler = button(QStringLiteral("ButtonAnnuler"), QStringLiteral("Annuler"), &TFormConfigurationUser::ButtonAnnulerClick);
    group->addLayout(buttons, 4, 0, 1, 4);
    modLayout->addWidget(GroupBoxReglages);
    PageControl->addTab(modalities, QStringLiteral("Modalités"));

    connect(TabControlModalites, &QTabBar::currentChanged, this, [this] { TabControlModalitesChange(); });
    connect(StrGrReglages, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous, int) {
                if (row >= 0 && row != previous)
                    StrGrReglagesSelectCell(row);
            });
    connect(StrGrReglages, &QTableWidget::cellClicked, this, [this](int row, int) { StrGrReglagesSelectCell(row); });

    // Escape drops an addition or a change under way, else closes the dialog (every
    // change is already written).
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WindowShortcut);
    addAction(escape);
    connect(escape, &QAction::triggered, this, [this] {
        if (mode_ != TEditMode::None)
            ButtonAnnulerClick();
        else
            CloseWithResult(mrOk);
    });

    SetMode(TEditMode::None);
    resize(sizeHint().expandedTo(QSize(480, 430)));
}

QString TFormConfigurationUser::Modality() const
{
    const int index = TabControlModalites->currentIndex();
    return index >= 0 ? Modalities().value(index) : QString();
}

int TFormConfigurationUser::CurrentRow() const { return currentRow_; }

// ---------------------------------------------------------------------------------------
// Showing and the preferences

void TFormConfigurationUser::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    if (event->spontaneous())
        return;
    TTemplateDM &dm = TemplateDM();
    MaskEditLineWidth->setText(QString::number(dm.ReadUserInteger(kLineWidth)));
    MaskEditFontSize->setText(QString::number(dm.ReadUserInteger(kFontSize)));
    // What a field can show is what counts as shown: a value of three digits or a
    // negative one is not rewritten unless the user changes the field.
    shownLineWidth_ = NumericValue(MaskEditLineWidth);
    shownFontSize_ = NumericValue(MaskEditFontSize);
    TabControlModalitesChange();
}

void TFormConfigurationUser::hideEvent(QHideEvent *event)
{
    // Closing the dialog from a numeric field keeps what was typed there.
    if (!event->spontaneous()) {
        NumericFieldExit(MaskEditLineWidth);
        NumericFieldExit(MaskEditFontSize);
    }
    TTemplate3::hideEvent(event);
}

QString TFormConfigurationUser::NumericName(const QLineEdit *field) const
{
    return field == MaskEditLineWidth ? kLineWidth : kFontSize;
}

int TFormConfigurationUser::NumericValue(const QLineEdit *field) const
{
    const QString text = field->text().trimmed();
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : 0;
}

void TFormConfigurationUser::NumericFieldExit(QLineEdit *field)
{
    if (writing_)
        return;
    int &shown = field == MaskEditLineWidth ? shownLineWidth_ : shownFontSize_;
    const int value = NumericValue(field);
    if (value == shown)
        return;
    // The store's error box takes the focus from the field: no second write from it.
    writing_ = true;
    if (TemplateDM().WriteUserInteger(NumericName(field), value))
        shown = value;
    writing_ = false;
}

// ---------------------------------------------------------------------------------------
// The typing filters and the numeric fields' exit

bool TFormConfigurationUser::AcceptsCharacter(const QLineEdit *field, QChar c, const TFormConfigurationUser *form)
{
    if (CommonCharacter(c))
        return true;
    const char16_t u = c.unicode();
    if (field == form->EditDesc)
        return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
    return u >= '0' && u <= '9';
}

bool TFormConfigurationUser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == EditDesc || watched == EditWidth)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Only typed characters are filtered: not the keys that move or delete (arrows,
        // Tab, Delete, function keys).
        const int code = key->key();
        if (!text.isEmpty() && code != Qt::Key_Tab && code != Qt::Key_Backtab && code != Qt::Key_Delete) {
            const auto *field = static_cast<QLineEdit *>(watched);
            for (QChar c : text) {
                if (!AcceptsCharacter(field, c, this)) {
                    TemplateDM().ShowMessageDialog(field == EditDesc
                                                       ? QStringLiteral("Caractère invalide. Lettres de l'alphabet requises!")
                                                       : QStringLiteral("Caractère invalide. Valeurs numériques requises!"),
                                                   TMsgDlgType::mtError, mbOK);
                    return true;
                }
            }
        }
    }
    if (event->type() == QEvent::FocusOut && (watched == MaskEditLineWidth || watched == MaskEditFontSize)) {
        // Leaving the field for another control; a window that merely loses the
        // activation (a message box, another program) is not leaving it.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            NumericFieldExit(static_cast<QLineEdit *>(watched));
    }
    return TTemplate3::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// The grid

QString TFormConfigurationUser::Cell(int row, int column) const
{
    const QTableWidgetItem *item = StrGrReglages->item(row, column);
    return item ? item->text() : QString();
}

bool TFormConfigurationUser::RowIsEmpty(int row) const
{
    for (int c = 0; c < 4; ++c)
        if (!Cell(row, c).isEmpty())
            return false;
    return true;
}

void TFormConfigurationUser::SetRow(int row, const QString &name, const QString &width, const QString &level,
                                    const QString &shortCut)
{
    const QStringList cells{name, width, level, shortCut};
    for (int c = 0; c < 4; ++c) {
        QTableWidgetItem *item = StrGrReglages->item(row, c);
        if (!item) {
            item = new QTableWidgetItem;
            StrGrReglages->setItem(row, c, item);
        }
        item->setText(cells[c]);
    }
}

void TFormConfigurationUser::TabControlModalitesChange()
{
    const QString modality = Modality();
    TTemplateDM &dm = TemplateDM();
    const QSignalBlocker block(StrGrReglages);
    // Down to the header and one empty row, then one row per preset.
    StrGrReglages->clearContents();
    StrGrReglages->setRowCount(1);
    const QStringList names = dm.ListPresets(modality);
    int row = 0;
    for (const QString &name : names) {
        const auto preset = dm.ReadPreset(modality, name);
        if (!preset)
            continue; // the store said why
        if (row >= StrGrReglages->rowCount())
            StrGrReglages->setRowCount(row + 1);
        SetRow(row, name, QString::number(preset->Width), QString::number(preset->Level), preset->ShortCut);
        ++row;
    }
    // The empty row of a modality without presets is not shown as selected.
    if (RowIsEmpty(0))
        StrGrReglages->clearSelection();
    else
        StrGrReglages->selectRow(0);
    ShowRow(0);
    SetMode(TEditMode::None);
}

void TFormConfigurationUser::StrGrReglagesSelectCell(int row)
{
    if (row < 0 || row >= StrGrReglages->rowCount())
        return;
    ShowRow(row);
    SetMode(TEditMode::None);
}

void TFormConfigurationUser::ShowRow(int row)
{
    currentRow_ = row;
    EditDesc->setText(Cell(row, 0));
    EditWidth->setText(Cell(row, 1));
    EditLevel->setText(Cell(row, 2));
    ComboBoxSCut->setCurrentIndex(ShortCuts().indexOf(Cell(row, 3).trimmed()));
}

// ---------------------------------------------------------------------------------------
// Modes and buttons

void TFormConfigurationUser::SetMode(TEditMode mode)
{
    mode_ = mode;
    const bool editing = mode != TEditMode::None;
    switch (mode) {
    case TEditMode::None:
        for (QWidget *w : std::initializer_list<QWidget *>{EditDesc, EditWidth, EditLevel, ComboBoxSCut})
            w->setEnabled(false);
        break;
    case TEditMode::Add:
        for (QWidget *w : std::initializer_list<QWidget *>{EditDesc, EditWidth, EditLevel, ComboBoxSCut})
            w->setEnabled(true);
        break;
    case TEditMode::Modify:
        // The description keeps its state: only the window and the key of the preset change.
        for (QWidget *w : std::initializer_list<QWidget *>{EditWidth, EditLevel, ComboBoxSCut})
            w->setEnabled(true);
        break;
    }
    ButtonAjouter->setEnabled(!editing);
    ButtonModifier->setEnabled(!editing && !EditDesc->text().isEmpty());
    ButtonEffacer->setEnabled(!editing && !EditDesc->text().isEmpty());
    ButtonAppliquer->setEnabled(editing);
    ButtonAnnuler->setEnabled(editing);
}

void TFormConfigurationUser::ButtonAjouterClick()
{
    EditDesc->clear();
    EditWidth->clear();
    EditLevel->clear();
    ComboBoxSCut->setCurrentIndex(-1);
    SetMode(TEditMode::Add);
    EditDesc->setFocus();
}

void TFormConfigurationUser::ButtonModifierClick()
{
    SetMode(TEditMode::Modify);
    EditWidth->setFocus();
}

void TFormConfigurationUser::ButtonAnnulerClick()
{
    SetMode(TEditMode::None);
    ShowRow(currentRow_);
    SetMode(TEditMode::None);
}

void TFormConfigurationUser::ShowInformation(const QString &text) const
{
    TemplateDM().ShowMessageDialog(text, TMsgDlgType::mtInformation, mbOK);
}

void TFormConfigurationUser::ButtonAppliquerClick()
{
    if (mode_ == TEditMode::None)
        return;
    // The message kept is the last that applies, in this order.
    QString message;
    if (ComboBoxSCut->currentIndex() < 0 || ComboBoxSCut->currentText().isEmpty())
        message = QStringLiteral("Vous devez entrer une touche de racourci!");
    if (EditLevel->text().isEmpty())
        message = QStringLiteral("Vous devez entrer une valeur de contraste!");
    if (EditWidth->text().isEmpty())
        message = QStringLiteral("Vous devez entrer une valeur d'intensité!");
    if (EditDesc->text().isEmpty())
        message = QStringLiteral("Vous devez entrer une description!");
    if (!message.isEmpty()) {
        ShowInformation(message);
        return;
    }
    bool widthOk = false, levelOk = false;
    const int width = EditWidth->text().trimmed().toInt(&widthOk);
    const int level = EditLevel->text().trimmed().toInt(&levelOk);
    if (!widthOk || !levelOk) {
        TemplateDM().ShowMessageDialog(
            !widthOk ? QStringLiteral("L'intensité doit être un nombre entier (par exemple 400)!")
                     : QStringLiteral("Le contraste doit être un nombre entier (par exemple 40 ou -600)!"),
            TMsgDlgType::mtError, mbOK);
        (!widthOk ? EditWidth : EditLevel)->setFocus();
        return;
    }

    TTemplateDM &dm = TemplateDM();
    const QString modality = Modality();
    const QString name = EditDesc->text();
    const QString shortCut = ComboBoxSCut->currentText();
    if (mode_ == TEditMode::Add) {
        if (dm.PresetExists(modality, name)) {
            ShowInformation(
                QStringLiteral("Cette entrée existe déjà choisissez une description différente ou utilisez modifier!"));
        } else if (dm.WritePreset(modality, name, shortCut, level, width)) {
            // The new preset takes the empty row of a modality without presets, else
            // a new last row, and becomes the current row.
            int row = StrGrReglages->rowCount();
            if (row == 1 && RowIsEmpty(0))
                row = 0;
            else
                StrGrReglages->setRowCount(row + 1);
            SetRow(row, name, QString::number(width), QString::number(level), shortCut);
            const QSignalBlocker block(StrGrReglages);
            StrGrReglages->setCurrentCell(row, 0);
            StrGrReglages->selectRow(row);
            currentRow_ = row;
        } else {
            ShowRow(currentRow_); // nothing was written: the fields show the grid again
        }
    } else {
        if (dm.PresetExists(modality, name)) {
            if (dm.WritePreset(modality, name, shortCut, level, width))
                SetRow(currentRow_, name, QString::number(width), QString::number(level), shortCut);
            else
                ShowRow(currentRow_);
        } else {
            ShowInformation(
                QStringLiteral("Cette entrée n'existe pas déjà choisissez une description existante ou utilisez ajouter!"));
        }
    }
    SetMode(TEditMode::None);
}

void TFormConfigurationUser::ButtonEffacerClick()
{
    TTemplateDM &dm = TemplateDM();
    if (dm.ShowMessageDialog(QStringLiteral("Désirez-vous vraiment effacer le préréglage?"), TMsgDlgType::mtConfirmation,
                             mbYes | mbNo)
        != mrYes)
        return;
    dm.DeletePreset(Modality(), EditDesc->text());
    TabControlModalitesChange();
}
