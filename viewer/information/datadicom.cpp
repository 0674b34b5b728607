#include "viewer/information/datadicom.h"

#include "common/cp1252.h"
#include "viewer/loading/components.h"
#include "viewer/loading/formouvrirvisite.h"
#include "viewer/shell/templatedm.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace information {

namespace {

const QColor kLightBlue(234, 244, 255);

QString HexBytes(const QByteArray &bytes)
{
    // Binary values as bytes; a long one is cut (the grid and the export stay readable).
    constexpr qsizetype kShown = 32;
    QString text = QString::fromLatin1(bytes.left(kShown).toHex(' ').toUpper());
    if (bytes.size() > kShown)
        text += QStringLiteral(" ...");
    return text;
}

QString OneValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return HexBytes(value.toByteArray());
    return value.toString();
}

// "%-w.ws": padded with blanks or cut to `width` characters.
QString Fixed(const QString &text, int width)
{
    return text.left(width).leftJustified(width, QLatin1Char(' '));
}

} // namespace

QString HeaderText(int column)
{
    static const QString headers[] = {QStringLiteral("Groupes"), QStringLiteral("Eléments"),
                                      QStringLiteral("Types"), QStringLiteral("Descriptions"),
                                      QStringLiteral("Valeurs")};
    return column >= 0 && column < 5 ? headers[column] : QString();
}

QString ValueText(const imaging::DicomListedAttribute &attribute)
{
    if (attribute.group == 0x7FE0)
        return QString();
    if (attribute.sequence)
        return QStringLiteral("Sequence of %1 items").arg(attribute.sequenceItems);
    const QVariant &value = attribute.value;
    if (value.typeId() == QMetaType::QVariantList) {
        QString text;
        for (const QVariant &v : value.toList())
            text += OneValue(v) + QLatin1Char('\r');
        return text;
    }
    if (!value.isValid() || value.isNull())
        return QStringLiteral("Null");
    return OneValue(value);
}

namespace {

QString VrText(const imaging::DicomListedAttribute &a)
{
    return a.item > 0 ? a.vr + QStringLiteral(" (") + QString::number(a.item) + QLatin1Char(')') : a.vr;
}

QString Hex4(int value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

DataRow RowOf(const imaging::DicomListedAttribute &a)
{
    DataRow row;
    row.group = static_cast<quint16>(a.group);
    row.element = static_cast<quint16>(a.element);
    row.vr = VrText(a);
    row.description = a.description;
    row.value = ValueText(a);
    return row;
}

std::vector<DataRow> RowsOf(const std::vector<imaging::DicomListedAttribute> &listing)
{
    std::vector<DataRow> rows;
    rows.reserve(listing.size());
    for (const imaging::DicomListedAttribute &a : listing)
        rows.push_back(RowOf(a));
    return rows;
}

QString CellText(const imaging::DicomListedAttribute &a, int column)
{
    switch (column) {
    case 0: return Hex4(a.group);
    case 1: return Hex4(a.element);
    case 2: return VrText(a);
    case 3: return a.description;
    case 4: return ValueText(a);
    default: return QString();
    }
}

QString CellText(const DataRow &row, int column)
{
    switch (column) {
    case 0: return Hex4(row.group);
    case 1: return Hex4(row.element);
    case 2: return row.vr;
    case 3: return row.description;
    case 4: return row.value;
    default: return QString();
    }
}

bool CellMatches(const QString &cell, const QString &search)
{
    const QString needle = search.trimmed();
    return !needle.isEmpty() && cell.trimmed().toUpper().contains(needle.toUpper());
}

int SearchFrom(const std::vector<DataRow> &rows, int current, const QString &search)
{
    const int last = static_cast<int>(rows.size());
    if (search.trimmed().isEmpty() || last == 0)
        return 0;
    const int start = current >= last ? 1 : current + 1;
    for (int r = std::max(start, 1); r <= last; ++r)
        for (int c = 0; c < 5; ++c)
            if (CellMatches(CellText(rows[r - 1], c), search))
                return r;
    return 0;
}

QStringList ExportLines(const std::vector<DataRow> &rows)
{
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(rows.size()) * 2);
    const QString blanks(23, QLatin1Char(' '));
    for (const DataRow &row : rows) {
        lines << Fixed(CellText(row, 0), 4) + QStringLiteral("  ") + Fixed(CellText(row, 1), 4) + QStringLiteral("  ")
                     + Fixed(row.vr, 9) + QStringLiteral("  ") + row.description;
        const QString value = row.value.trimmed();
        if (value.isEmpty())
            continue;
        // Line breaks: CR LF, CR or LF.
        QString text = value;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        for (const QString &line : text.split(QLatin1Char('\n')))
            lines << blanks + line;
    }
    return lines;
}

QByteArray ExportBytes(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + QStringLiteral("\r\n");
    if (common::isCp1252(text))
        return common::toCp1252(text);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString ExportFolder(const QString &homeFolder)
{
    QString folder = homeFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString ExportFileName(const QString &instanceUid)
{
    // A UID is digits and dots; whatever else a file holds there (a "/", a "..") could
    // name a file outside the folder, and becomes "_".
    QString name;
    for (QChar c : instanceUid.trimmed().left(128)) {
        const char16_t u = c.unicode();
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '-';
        const bool dot = u == '.' && !name.isEmpty() && !name.endsWith(QLatin1Char('.'));
        name += plain || dot ? c : QChar(u'_');
    }
    if (name.endsWith(QLatin1Char('.')))
        name[name.size() - 1] = QChar(u'_');
    if (name.isEmpty())
        name = QStringLiteral("_");
    return name + QStringLiteral(".dmp");
}

// ---------------------------------------------------------------------------------------

void TDataDicomModel::SetListing(std::vector<imaging::DicomListedAttribute> listing)
{
    beginResetModel();
    listing_ = std::move(listing);
    endResetModel();
}

int TDataDicomModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(listing_.size());
}

int TDataDicomModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 5; }

QVariant TDataDicomModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(listing_.size()))
        return QVariant();
    return CellText(listing_[static_cast<std::size_t>(index.row())], index.column());
}

QVariant TDataDicomModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return HeaderText(section);
    return QVariant();
}

// ---------------------------------------------------------------------------------------

TDataDicomDelegate::TDataDicomDelegate(std::function<QString()> searchText, QObject *parent)
    : QStyledItemDelegate(parent), searchText_(std::move(searchText))
{
}

void TDataDicomDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = option.rect;
    const QPalette &palette = option.palette;
    const int gridRow = index.row() + 1; // the header is row 0
    QColor background = gridRow % 2 ? Qt::white : kLightBlue;
    QColor foreground = Qt::black;
    if (option.state & QStyle::State_Selected) {
        background = palette.color(QPalette::Active, QPalette::Highlight);
        foreground = palette.color(QPalette::Active, QPalette::HighlightedText);
    }
    const QString search = searchText_ ? searchText_() : QString();
    if (!search.trimmed().isEmpty() && CellMatches(text, search)) {
        background = QColor(0, 0, 255);
        foreground = palette.color(QPalette::Active, QPalette::HighlightedText);
    }
    painter->save();
    painter->setFont(option.font);
    painter->setPen(foreground);
    const QFontMetrics metrics(option.font);
    const qsizetype returns = text.count(QLatin1Char('\r'));
    if (returns > 0) {
        // One line per carriage return; what follows the last one is not drawn.
        const int h = metrics.height();
        const int height = static_cast<int>(returns) * h;
        // The view compares with the row's height (which holds the grid line) and only
        // resizes a row that differs, so drawing cannot keep resizing.
        emit rowHeightWanted(index.row(), height);
        painter->fillRect(QRect(cell.left(), cell.top(), cell.width(), height), background);
        QString rest = text;
        for (qsizetype i = 0; i < returns; ++i) {
            const qsizetype at = rest.indexOf(QLatin1Char('\r'));
            const QString line = rest.left(at).trimmed();
            rest = rest.mid(at + 1);
            qsizetype lead = 0;
            while (lead < rest.size() && rest.at(lead).isSpace() && rest.at(lead) != QLatin1Char('\r'))
                ++lead;
            rest.remove(0, lead);
            painter->drawText(QRect(cell.left(), cell.top() + static_cast<int>(i) * h, cell.width(), h),
                              Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line);
        }
    } else {
        painter->fillRect(cell, background);
        const int h = metrics.boundingRect(QStringLiteral("YyPpQq")).height();
        const int dy = cell.height() >= 2 * h ? 2 : (cell.height() - h) / 2;
        painter->drawText(QRect(cell.left() + 2, cell.top() + dy, cell.width() - 2, cell.height() - dy),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    painter->restore();
}

// ---------------------------------------------------------------------------------------

TDataDicomPage::TDataDicomPage(QWidget *parent) : QWidget(parent)
{
    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("StringGrid1"));
    model_ = new TDataDicomModel(grid_);
    grid_->setModel(model_);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("EditTextToSearch"));
    delegate_ = new TDataDicomDelegate([this]() { return search_->text(); }, grid_);
    grid_->setItemDelegate(delegate_);
    grid_->setShowGrid(true);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setTabKeyNavigation(true);
    grid_->setWordWrap(false);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->verticalHeader()->setDefaultSectionSize(24);
    grid_->verticalHeader()->setMinimumSectionSize(1);
    grid_->horizontalHeader()->setSectionsMovable(true);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->horizontalHeader()->setStretchLastSection(false);
    grid_->horizontalHeader()->setHighlightSections(false);
    // A row holding several lines gets its height once drawn, after the paint.
    connect(delegate_, &TDataDicomDelegate::rowHeightWanted, grid_, [this](int row, int) { FitRowHeight(row); },
            Qt::QueuedConnection);
    // The columns follow the width the grid really has: the page may first be laid out
    // while hidden behind another page, and a vertical scroll bar takes its share.
    grid_->viewport()->installEventFilter(this);
    // The wheel moves the current row, as the row keys do, wherever it turns over the grid.
    for (QWidget *part : {static_cast<QWidget *>(grid_), grid_->viewport(),
                          static_cast<QWidget *>(grid_->verticalScrollBar()),
                          static_cast<QWidget *>(grid_->horizontalScrollBar())})
        part->installEventFilter(this);

    searchLabel_ = new QLabel(QStringLiteral("Texte à rechercher"), this);
    searchLabel_->setObjectName(QStringLiteral("LabelTextToSearch"));
    searchLabel_->setBuddy(search_);
    // Upper-case entry: what is typed shows in capitals.
    connect(search_, &QLineEdit::textEdited, search_, [this](const QString &text) {
        const QString upper = text.toUpper();
        if (upper != text) {
            const int cursor = search_->cursorPosition();
            search_->setText(upper);
            search_->setCursorPosition(cursor);
        }
    });
    connect(search_, &QLineEdit::textChanged, grid_->viewport(), [this]() { grid_->viewport()->update(); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(grid_, 1);
    layout->addWidget(searchLabel_);
    layout->addWidget(search_);
}

void TDataDicomPage::Fill(const imaging::DicomAttributes &attributes)
{
    const auto flag = attributes.Item(0x0009, 0x0001);
    if (flag && flag->Exists()) {
        auto global = loading::NewComponent<imaging::DicomGlobal>();
        global->AddDictionaryElement(0x0009, 0x0001, QStringLiteral("LO"), QStringLiteral("1"),
                                     QStringLiteral("Commentaire"));
        global->AddDictionaryElement(0x0009, 0x0003, QStringLiteral("LO"), QStringLiteral("1"),
                                     QStringLiteral("Commentaire"));
        global->AddDictionaryElement(0x0009, 0x0004, QStringLiteral("LO"), QStringLiteral("1"),
                                     QStringLiteral("Old Series UID"));
    }
    model_->SetListing(attributes.Listing());
    if (model_->rowCount() > 0)
        SetCurrentRow(1);
}

void TDataDicomPage::LayoutColumns()
{
    grid_->setColumnWidth(0, 75);
    grid_->setColumnWidth(1, 75);
    grid_->setColumnWidth(2, 55);
    const int rest = std::max(0, (grid_->viewport()->width() - 205) / 2);
    grid_->setColumnWidth(3, rest);
    grid_->setColumnWidth(4, rest);
}

bool TDataDicomPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == grid_->viewport() && event->type() == QEvent::Resize)
        LayoutColumns();
    if (event->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        if (delta < 0)
            RowDown();
        else if (delta > 0)
            RowUp();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

int TDataDicomPage::RowHeightWanted(int row) const
{
    // The lines of the cell with the most carriage returns, and the grid line below them.
    if (row < 0 || row >= model_->rowCount())
        return 0;
    qsizetype returns = 0;
    for (int column = 0; column < model_->columnCount(); ++column)
        returns = std::max(returns, model_->index(row, column).data().toString().count(QLatin1Char('\r')));
    if (returns == 0)
        return 0;
    return static_cast<int>(returns) * QFontMetrics(grid_->font()).height() + (grid_->showGrid() ? 1 : 0);
}

void TDataDicomPage::FitRowHeight(int row)
{
    const int height = RowHeightWanted(row);
    if (height > 0 && grid_->rowHeight(row) != height)
        grid_->setRowHeight(row, height);
}

void TDataDicomPage::ScrollToRow(int row)
{
    // Rows of several lines get their height when drawn, too late for scrolling: the row and
    // those above it that can share the view with it are given their height first, so
    // that the row stays in view once they are drawn.
    const int room = grid_->viewport()->height();
    int used = 0;
    for (int r = row; r >= 0 && used < room; --r) {
        FitRowHeight(r);
        used += grid_->rowHeight(r);
    }
    grid_->scrollTo(model_->index(row, std::max(grid_->currentIndex().column(), 0)));
}

int TDataDicomPage::CurrentRow() const
{
    const QModelIndex current = grid_->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void TDataDicomPage::SetCurrentRow(int row)
{
    if (row < 1 || row > RowCount())
        return;
    const int column = std::max(grid_->currentIndex().column(), 0);
    const QModelIndex index = model_->index(row - 1, column);
    grid_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ScrollToRow(row - 1);
}

void TDataDicomPage::Search()
{
    if (search_->text().trimmed().isEmpty())
        return;
    const int found = SearchFrom(model_->Rows(), CurrentRow(), search_->text());
    if (found > 0) {
        SetCurrentRow(found);
        grid_->viewport()->update();
        return;
    }
    TemplateDM().ShowMessageDialog(QStringLiteral("Le texte recherché n'a pas été trouvé."),
                                   TMsgDlgType::mtInformation, mbOK);
    SetCurrentRow(1);
}

void TDataDicomPage::RowUp()
{
    const int row = CurrentRow();
    if (row > 1)
        SetCurrentRow(row - 1);
}

void TDataDicomPage::RowDown()
{
    const int row = CurrentRow();
    if (row < RowCount())
        SetCurrentRow(row + 1);
}

void TDataDicomPage::Export(const QString &instanceUid)
{
    const QString folder = ExportFolderFunction
                               ? ExportFolderFunction()
                               : ExportFolder(QDir::homePath());
    const QString path = QDir::cleanPath(folder + QLatin1Char('/') + ExportFileName(instanceUid));
    // Written beside the final name and renamed once whole: a failed export leaves
    // neither a half-written file nor the user believing it worked.
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        const QByteArray bytes = ExportBytes(ExportLines(model_->Rows()));
        written = file.write(bytes) == bytes.size() && file.commit();
    }
    if (!written) {
        file.cancelWriting();
        TemplateDM().ShowMessageDialog(QStringLiteral("Impossible d'écrire le fichier suivant:\r")
                                           + QDir::toNativeSeparators(path),
                                       TMsgDlgType::mtError, mbOK);
        return;
    }
    TemplateDM().ShowMessageDialog(QStringLiteral("Voir le fichier suivant:\r") + QDir::toNativeSeparators(path),
                                   TMsgDlgType::mtInformation, mbOK);
}

} // namespace information
