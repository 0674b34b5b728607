#include "viewer/window/printing.h"

#include "common/regularfile.h"

#include "viewer/frame/selection.h"
#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"
#include "viewer/window/formimpressionstd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace printing {

namespace {

// Bytes of a PDF's name given to the accession number: the rest of the 255 a file name
// may hold is left to the date, a distinguishing suffix and the extension.
constexpr int kMaxAccessionBytes = 180;

std::function<TPrintGrid(QWidget *)> g_ask;
std::function<std::unique_ptr<QPrinter>()> g_open;

TPrintGrid AskFormat(QWidget *parent)
{
    if (g_ask)
        return g_ask(parent);
    TFormImpressionStd dialog(parent);
    dialog.setWindowFlag(Qt::Window, true);
    dialog.ShowModal();
    return {dialog.Columns, dialog.Rows};
}

std::unique_ptr<QPrinter> OpenPrinter()
{
    if (g_open)
        return g_open();
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        const QList<QPrinterInfo> all = QPrinterInfo::availablePrinters();
        if (all.isEmpty())
            return nullptr;
        info = all.first();
    }
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

QFont FooterFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    return font;
}

void DrawFooter(QPainter &painter, int pageWidth, int pageHeight, const QString &text)
{
    const QFontMetrics metrics(painter.font());
    const int width = metrics.horizontalAdvance(text);
    const int height = metrics.height();
    painter.setPen(Qt::black);
    painter.drawText(QRect((pageWidth - width) / 2, pageHeight - height, width + 1, height),
                     Qt::AlignLeft | Qt::AlignTop, text);
}

} // namespace

int CellWidth(int pageWidth, int columns) { return (pageWidth - columns * kMargin - kMargin) / columns; }
int CellHeight(int pageHeight, int rows) { return (pageHeight - rows * kMargin - kMargin) / rows; }

int PageCount(int selected, TPrintGrid grid)
{
    if (grid.IsEmpty() || selected <= 0)
        return 0;
    const int perPage = grid.columns * grid.rows;
    return (selected + perPage - 1) / perPage;
}

QString FooterText(const QDateTime &start, int page, int pages)
{
    const QLocale french(QLocale::French, QLocale::France);
    return french.toString(start, QStringLiteral("dddd d MMMM yyyy H:mm"))
           + QStringLiteral(", Page: %1 / %2").arg(page).arg(pages);
}

QRect PictureRect(QPoint origin, QSize cell, QSizeF picture)
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return QRect(origin, QSize(0, 0));
    const double scale = std::min(cell.width() / picture.width(), cell.height() / picture.height());
    return QRect(origin, QSize(int(picture.width() * scale), int(picture.height() * scale)));
}

TPrintReport PrintSelectedImages(QPrinter &printer, const imaging::DicomImages &images, TPrintGrid grid,
                                 const QDateTime &start, const imaging::DicomViewerLight &renderer)
{
    TPrintReport report;
    const int selected = selection::CountSelected(images);
    if (grid.IsEmpty() || selected == 0)
        return report;
    QPainter painter;
    if (!painter.begin(&printer))
        return report;
    report.started = true;
    painter.setFont(FooterFont());
    const int pageWidth = printer.width();
    const int pageHeight = printer.height();
    const int cellWidth = CellWidth(pageWidth, grid.columns);
    const int cellHeight = CellHeight(pageHeight, grid.rows);
    const int perPage = grid.columns * grid.rows;
    const int pages = PageCount(selected, grid);
    int page = 1;
    int column = 0, row = 0, onPage = 0, printed = 0;
    bool ok = true;
    for (int i = 1; i <= images.Count() && ok; ++i) {
        const auto image = images.Item(i);
        if (!image || !selection::IsSelected(*image))
            continue;
        // The picture's own size is the cell it is shown in (the image's size when no
        // control shows it); it is drawn at the size it takes on paper.
        QSizeF size = image->DisplayCell().size();
        if (size.isEmpty())
            size = QSizeF(std::max(1, image->SizeX()), std::max(1, image->SizeY()));
        const QPoint origin(column * (cellWidth + kMargin) + kMargin, row * (cellHeight + kMargin) + kMargin);
        const QRect target = PictureRect(origin, QSize(cellWidth, cellHeight), size);
        if (!target.isEmpty()) {
            const auto marker = image->Labels()->Item(loading::kLabelSelection);
            const bool updates = image->ShowUpdates();
            image->SetShowUpdates(false);
            if (marker)
                marker->SetVisible(false);
            const QImage picture = renderer.Picture(image, target.size());
            if (marker)
                marker->SetVisible(true);
            image->SetShowUpdates(updates);
            painter.drawImage(target, picture);
            report.placed.append({page - 1, target});
        }
        ++report.pictures;
        ++printed;
        ++onPage;
        if (++column >= grid.columns) {
            column = 0;
            if (++row >= grid.rows)
                row = 0;
        }
        if (onPage == perPage) {
            DrawFooter(painter, pageWidth, pageHeight, FooterText(start, page, pages));
            onPage = 0;
            if (printed < selected) {
                ok = printer.newPage();
                ++page;
            }
        }
    }
    if (onPage > 0)
        DrawFooter(painter, pageWidth, pageHeight, FooterText(start, page, pages));
    report.pages = page;
    report.finished = painter.end() && ok;
    return report;
}

void SetFormatFunction(std::function<TPrintGrid(QWidget *parent)> ask) { g_ask = std::move(ask); }
void SetPrinterFunction(std::function<std::unique_ptr<QPrinter>()> open) { g_open = std::move(open); }

QString FallbackPdfPath(const QString &accession, const QDateTime &start)
{
    QString name = accession.trimmed();
    // Only characters every file system takes.
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    if (name.isEmpty())
        name = QStringLiteral("Impression");
    // An accession number of hundreds of characters: cut to leave the date and the
    // extension room in a file name (a digest keeps two long numbers apart).
    name = common::FitFileName(name, QString(), kMaxAccessionBytes);
    const QDir home(QDir::homePath());
    // A print never replaces an earlier one: the minute, else the second, else a counter.
    const QString minute = name + QLatin1Char('_') + start.toString(QStringLiteral("yyyy-MM-dd_HHmm"));
    QString path = home.filePath(minute + QStringLiteral(".pdf"));
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return path;
    const QString second = minute + start.toString(QStringLiteral("ss"));
    path = home.filePath(second + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = home.filePath(second + QStringLiteral("_%1.pdf").arg(n));
    return path;
}

TPrintReport StandardPrint(QWidget *parent)
{
    TTemplateDM &dm = TemplateDM();
    const auto visit = VisitData().VisitImages();
    const int selected = selection::CountSelected(*visit);
    if (selected == 0) {
        dm.ShowMessageDialog(QStringLiteral("Aucune image n'a été sélectionnée."), TMsgDlgType::mtWarning, mbOK);
        return {};
    }
    const TPrintGrid grid = AskFormat(parent);
    if (grid.IsEmpty())
        return {};
    const QDateTime start = QDateTime::currentDateTime();
    std::unique_ptr<QPrinter> printer = OpenPrinter();
    QString pdf;
    if (!printer) {
        // No printer on this machine: the pages can still be kept as a PDF file.
        QString accession;
        for (int i = 1; i <= visit->Count() && accession.isEmpty(); ++i)
            if (selection::IsSelected(*visit->Item(i)))
                accession = selection::AccessionOf(*visit->Item(i));
        pdf = FallbackPdfPath(accession, start);
        const int answer = dm.ShowMessageDialog(
            QStringLiteral("Aucune imprimante n'est installée sur cet ordinateur.\r"
                           "Voulez-vous enregistrer les pages dans un fichier PDF ?\r\r")
                + QDir::toNativeSeparators(pdf),
            TMsgDlgType::mtConfirmation, TMsgDlgButtons(mbYes | mbNo));
        if (answer != mrYes)
            return {};
        // The name is taken now, so that nothing made meanwhile (another print while the
        // question was open) is replaced: a name found taken gives the next free one.
        for (;;) {
            QFile reserve(pdf);
            if (reserve.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                reserve.close();
                break;
            }
            if (!QFileInfo::exists(pdf) && !QFileInfo(pdf).isSymLink()) {
                dm.ShowMessageDialog(QStringLiteral("Le fichier PDF n'a pas pu être écrit :\r") + QDir::toNativeSeparators(pdf),
                                     TMsgDlgType::mtError, mbOK);
                return {};
            }
            pdf = FallbackPdfPath(accession, start);
        }
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setResolution(300);
        printer->setOutputFileName(pdf);
    }
    std::unique_ptr<imaging::DicomViewerLight> renderer(loading::NewViewerControl(nullptr));
    const TPrintReport report = PrintSelectedImages(*printer, *visit, grid, start, *renderer);
    if (!report.finished) {
        // The file this print made (its name was taken above) holds no whole document.
        if (!pdf.isEmpty())
            QFile::remove(pdf);
        dm.ShowMessageDialog(pdf.isEmpty() ? QStringLiteral("L'impression n'a pas pu se faire.")
                                           : QStringLiteral("Le fichier PDF n'a pas pu être écrit :\r")
                                                 + QDir::toNativeSeparators(pdf),
                             TMsgDlgType::mtError, mbOK);
    } else if (!pdf.isEmpty()) {
        dm.ShowMessageDialog(QStringLiteral("Les pages ont été enregistrées dans le fichier :\r")
                                 + QDir::toNativeSeparators(pdf),
                             TMsgDlgType::mtInformation, mbOK);
    }
    return report;
}

} // namespace printing
