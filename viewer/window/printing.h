#pragma once
// Standard printing: the selected images of the visit, several per page in a grid of
// columns x rows cells, each picture fitted to its cell from the cell's top-left corner,
// with a footer line giving the print time in French and the page number.
//
// The printing proper takes the printer as a parameter (tests print to PDF). The menu
// command asks for the grid, then prints on the system's default printer; when the
// machine has no printer at all it offers to save the pages as a PDF file in the user's
// home folder instead.

#include "imaging/imaging.h"
#include "imaging/viewerlight.h"

#include <QDateTime>
#include <QList>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;

namespace printing {

struct TPrintGrid {
    int columns = 0;
    int rows = 0;
    bool IsEmpty() const { return columns <= 0 || rows <= 0; }
};

// Page geometry in printer units: margin and gutter 20.
constexpr int kMargin = 20;
int CellWidth(int pageWidth, int columns);
int CellHeight(int pageHeight, int rows);
// Number of pages for `selected` images (rounded up).
int PageCount(int selected, TPrintGrid grid);
// "dddd d mmmm yyyy h:nn, Page: n / N" with French day and month names.
QString FooterText(const QDateTime &start, int page, int pages);
// The rectangle a picture of `picture` size takes in a cell of `cell` size whose
// top-left corner is `origin`: scaled uniformly to fit, truncated sizes.
QRect PictureRect(QPoint origin, QSize cell, QSizeF picture);

struct TPrintReport {
    bool started = false;  // a print job was begun
    bool finished = false; // and ended without a printer error
    int pages = 0;
    int pictures = 0;
    // Where each picture went, in printer units, by page (from 0).
    QList<QPair<int, QRect>> placed;
};

// Prints the selected images of `images` in order on `printer` (a job of its own).
// `renderer` draws each picture at the size it takes on paper; the selection marker is
// hidden while it is drawn.
TPrintReport PrintSelectedImages(QPrinter &printer, const imaging::DicomImages &images, TPrintGrid grid,
                                 const QDateTime &start, const imaging::DicomViewerLight &renderer);

// ---- The menu command ----

// The format dialog (tests answer it); by default TFormImpressionStd shown modally.
void SetFormatFunction(std::function<TPrintGrid(QWidget *parent)> ask);
// The printer to print on; null when the machine has none. By default the system's
// default printer (CUPS), else its first printer.
void SetPrinterFunction(std::function<std::unique_ptr<QPrinter>()> open);
// The PDF file offered when there is no printer: in the home folder, named after the
// accession number and the date to the minute; when that file exists, to the second,
// then with a counter ("_2", "_3" ...): never a file that exists.
QString FallbackPdfPath(const QString &accession, const QDateTime &start);

// After the frames' state went back to the visit: counts the selected images, asks for
// the grid and prints. Messages go through ShowMessageDialog.
TPrintReport StandardPrint(QWidget *parent);

} // namespace printing
