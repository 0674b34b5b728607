#pragma once
// The "Data DICOM" page: every attribute of the shown image in a five-column grid,
// sequences unfolded item by item, with a search field and an export to a text file.
//
// The grid is a table view over the listed rows (one model row per attribute) with a
// delegate that draws the cells: a data set of tens of thousands of attributes opens at
// once, and rows that hold several lines get their height when they are first drawn.

#include "imaging/imaging.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;

namespace information {

// One grid row: group, element, value representation (with " (n)" inside item n of a
// sequence), description, value.
struct DataRow
{
    quint16 group = 0;
    quint16 element = 0;
    QString vr;
    QString description;
    QString value;
};

// Header texts of the five columns.
QString HeaderText(int column);

// The value column of one listed attribute: empty for pixel data (group 7FE0),
// "Sequence of n items", several values one per line (each followed by a carriage
// return), "Null" without a value, else the value as text (binary values as hexadecimal
// bytes).
QString ValueText(const imaging::DicomListedAttribute &attribute);
DataRow RowOf(const imaging::DicomListedAttribute &attribute);
std::vector<DataRow> RowsOf(const std::vector<imaging::DicomListedAttribute> &listing);
QString CellText(const DataRow &row, int column);
QString CellText(const imaging::DicomListedAttribute &attribute, int column);

// Whether a cell matches the search text: the trimmed search text occurs in the
// upper-cased, trimmed cell text. Never for an empty search text.
bool CellMatches(const QString &cell, const QString &search);

// The search from grid row `current` (rows from 1, `rows.size()` the last): starts one row
// further down, or at row 1 from the last row, and goes down to the last row without
// wrapping. The row found, or 0.
int SearchFrom(const std::vector<DataRow> &rows, int current, const QString &search);

// The export's lines: each row as "%-4.4s  %-4.4s  %-9.9s  %s" of its first four columns,
// then each line of its trimmed value after 23 blanks.
QStringList ExportLines(const std::vector<DataRow> &rows);
// The file's bytes: the lines with CR LF ends, in Windows-1252; in UTF-8 with a byte
// order mark when a text holds characters that Windows-1252 cannot (so no name is lost).
QByteArray ExportBytes(const QStringList &lines);

// The folder of the export (with a trailing "/"): the user's home folder, where the
// drive of the program folder (or, from a CD, the system drive) would be on a Windows
// workstation. The root of the file system is nobody's folder (as root it can be
// written, and nobody would look there).
QString ExportFolder(const QString &homeFolder);
// The export's file name: the instance UID + ".dmp", every character a UID does not
// hold, and every dot that would make ".." or a hidden name, turned into "_".
QString ExportFileName(const QString &instanceUid);

// The grid's rows over the listed attributes; cell texts are made when asked for, so
// that filling costs no more than the listing.
class TDataDicomModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetListing(std::vector<imaging::DicomListedAttribute> listing);
    const std::vector<imaging::DicomListedAttribute> &Listing() const { return listing_; }
    // Every row with its texts (the search and the export).
    std::vector<DataRow> Rows() const { return RowsOf(listing_); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<imaging::DicomListedAttribute> listing_;
};

// Draws the data rows: alternating white and light blue rows, the current row in the
// selection colours, matches of the search text on blue, and cells with carriage
// returns as one line per return (asking for the row height those lines need).
class TDataDicomDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TDataDicomDelegate(std::function<QString()> searchText, QObject *parent);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

signals:
    void rowHeightWanted(int row, int height) const;

private:
    std::function<QString()> searchText_;
};

// The page (TSData's contents): the grid StringGrid1 and the search field below it.
class TDataDicomPage : public QWidget
{
    Q_OBJECT
public:
    explicit TDataDicomPage(QWidget *parent = nullptr);

    // Lists `attributes` (declaring the private comment attributes first when (0009,0001)
    // exists).
    void Fill(const imaging::DicomAttributes &attributes);
    // Columns 0 and 1 75 pixels wide, column 2 55, the rest of the grid's visible width
    // shared by 3 and 4.
    void LayoutColumns();
    // ActionEnter, ActionUp, ActionDown.
    void Search();
    void RowUp();
    void RowDown();
    // Writes the listing to `instanceUid` + ".dmp" in ExportFolder and tells the user
    // where it is (or that it could not be written).
    void Export(const QString &instanceUid);

    // Grid row numbers as the user sees them: 1 is the first attribute, 0 none.
    int CurrentRow() const;
    void SetCurrentRow(int row);
    int RowCount() const { return static_cast<int>(model_->Listing().size()); }

    QTableView *Grid() const { return grid_; }
    QLineEdit *SearchField() const { return search_; }
    TDataDicomModel *Model() const { return model_; }

    // The export's folder (tests and other platforms replace it).
    std::function<QString()> ExportFolderFunction;

protected:
    // Lays the columns out whenever the grid's visible width changes; turns the wheel
    // over the grid into the row keys.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The height that model row `row` (from 0) needs for its lines, 0 for a one-line row.
    int RowHeightWanted(int row) const;
    void FitRowHeight(int row);
    // Brings model row `row` wholly into view.
    void ScrollToRow(int row);

    QTableView *grid_ = nullptr;
    TDataDicomModel *model_ = nullptr;
    TDataDicomDelegate *delegate_ = nullptr;
    QLabel *searchLabel_ = nullptr;
    QLineEdit *search_ = nullptr;
};

} // namespace information
