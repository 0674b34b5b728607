// Image selection through the main window, and standard printing of the selected
// images to a PDF file read back with poppler's tools.

#include "windowtesting.h"

#include "viewer/frame/selection.h"
#include "viewer/loading/components.h"
#include "viewer/window/formimpressionstd.h"
#include "viewer/window/ownerdrawmenu.h"
#include "viewer/window/printing.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QMenu>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include "testsupport/qtestgtest.h"

using namespace windowtest;

namespace {

constexpr int kPrinterDpi = 150; // the test printer's resolution
constexpr int kRenderDpi = 40;   // pages rendered back at this resolution
constexpr int kFooterBand = 60;  // printer units at the bottom of the page that hold the footer

QString Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<failed: %1>").arg(QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

int PdfPages(const QString &pdf)
{
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString PdfPageSize(const QString &pdf)
{
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const auto m = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+ x [\\d.]+)")).match(info);
    return m.hasMatch() ? m.captured(1) : info;
}

QString PdfText(const QString &pdf, int page)
{
    return Run(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                             QString::number(page), pdf, QStringLiteral("-")})
        .trimmed();
}

QImage PdfPage(const QString &pdf, int page, int dpi = kRenderDpi)
{
    const QString out = pdf + QStringLiteral(".page%1").arg(page);
    Run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
                                     QString::number(page), QStringLiteral("-l"), QString::number(page),
                                     QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, out});
    return QImage(out + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels that are not paper white inside `area` of a rendered page.
QRect InkBox(const QImage &page, const QRect &area)
{
    QRect box;
    const QRect a = area & page.rect();
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x) {
            const QRgb p = page.pixel(x, y);
            if (qRed(p) < 200 || qGreen(p) < 200 || qBlue(p) < 200)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

// Pixels of a saturated red or blue (the selection marker's colours).
int MarkerPixels(const QImage &page)
{
    int n = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QRgb p = page.pixel(x, y);
            const bool red = qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
            const bool blue = qBlue(p) > 150 && qRed(p) < 90 && qGreen(p) < 90;
            n += red || blue;
        }
    return n;
}

std::unique_ptr<QPrinter> PdfPrinter(const QString &path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setResolution(kPrinterDpi);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(QPageLayout::Portrait);
    printer->setOutputFileName(path);
    return printer;
}

// A rectangle in printer units as pixels of a page rendered at `dpi`.
QRect OnPage(const QPrinter &printer, const QRect &units, int dpi = kRenderDpi)
{
    const QPoint offset = printer.pageLayout().paintRectPixels(kPrinterDpi).topLeft();
    const double k = double(dpi) / kPrinterDpi;
    return QRect(QPoint(int(std::lround((units.left() + offset.x()) * k)), int(std::lround((units.top() + offset.y()) * k))),
                 QPoint(int(std::lround((units.right() + 1 + offset.x()) * k)) - 1,
                        int(std::lround((units.bottom() + 1 + offset.y()) * k)) - 1));
}

// Two boxes agree within 1 % of the page on every edge.
::testing::AssertionResult Near(const QRect &a, const QRect &b, const QSize &page)
{
    const int dx = std::max(1, page.width() / 100), dy = std::max(1, page.height() / 100);
    if (std::abs(a.left() - b.left()) <= dx && std::abs(a.right() - b.right()) <= dx && std::abs(a.top() - b.top()) <= dy
        && std::abs(a.bottom() - b.bottom()) <= dy)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "box " << a.x() << "," << a.y() << " " << a.width() << "x" << a.height()
                                         << " expected " << b.x() << "," << b.y() << " " << b.width() << "x"
                                         << b.height();
}

// Mean absolute grey difference of two pictures brought to 64 x 64.
double Difference(const QImage &a, const QImage &b)
{
    const QImage x = a.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_Grayscale8);
    const QImage y = b.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c)
            sum += std::abs(int(x.constScanLine(r)[c]) - int(y.constScanLine(r)[c]));
    return sum / (64 * 64);
}

class PrintingTest : public ViewerTest
{
protected:
    void TearDown() override
    {
        printing::SetFormatFunction({});
        printing::SetPrinterFunction({});
    }
    static QAction *MenuItem(TFrameDicomViewer *frame, const char *name)
    {
        return selection::PopupMenuSelect(*frame)->findChild<QAction *>(QLatin1String(name));
    }
    static void SelectOnly(std::initializer_list<int> indexes)
    {
        const auto visit = VisitData().VisitImages();
        for (int i = 1; i <= visit->Count(); ++i)
            selection::SetSelected(*visit->Item(i), false);
        for (int i : indexes)
            selection::SetSelected(*visit->Item(i), true);
    }
    // Prints the visit's selection to a PDF file in a grid; the printer is kept to map
    // its units to the rendered pages.
    printing::TPrintReport Print(printing::TPrintGrid grid)
    {
        printer = PdfPrinter(pdf);
        std::unique_ptr<imaging::DicomViewerLight> renderer(loading::NewViewerControl(nullptr));
        return printing::PrintSelectedImages(*printer, *VisitData().VisitImages(), grid, start, *renderer);
    }
    // Every picture of the report found on its rendered page where it was placed; the
    // cells without a picture are blank.
    void CheckPlacement(const printing::TPrintReport &report, printing::TPrintGrid grid)
    {
        const int pageWidth = printer->width(), pageHeight = printer->height();
        const int cw = printing::CellWidth(pageWidth, grid.columns), ch = printing::CellHeight(pageHeight, grid.rows);
        for (int page = 0; page < report.pages; ++page) {
            const QImage rendered = PdfPage(pdf, page + 1);
            ASSERT_FALSE(rendered.isNull());
            for (int r = 0; r < grid.rows; ++r)
                for (int c = 0; c < grid.columns; ++c) {
                    const QRect cell(c * (cw + 20) + 20, r * (ch + 20) + 20, cw, ch);
                    // The footer line overlaps the bottom of the last row's cells.
                    const QRect search = r == grid.rows - 1 ? cell.adjusted(0, 0, 0, -kFooterBand) : cell;
                    const QRect ink = InkBox(rendered, OnPage(*printer, search));
                    QRect expected;
                    for (const auto &[p, rect] : report.placed)
                        if (p == page && cell.contains(rect.topLeft()))
                            expected = rect;
                    if (expected.isNull())
                        EXPECT_TRUE(ink.isNull()) << "page " << page + 1 << " cell " << c << "," << r;
                    else
                        EXPECT_TRUE(Near(ink, OnPage(*printer, expected & search), rendered.size()))
                            << "page " << page + 1 << " cell " << c << "," << r;
                }
        }
    }

    QTemporaryDir out;
    QString pdf = out.filePath(QStringLiteral("print.pdf"));
    QDateTime start{QDate(2026, 12, 9), QTime(9, 5)};
    std::unique_ptr<QPrinter> printer;
};

} // namespace

TEST(PrintingGeometry, FooterGridAndFitFollowThePage)
{
    EXPECT_EQ(printing::FooterText(QDateTime(QDate(2026, 12, 9), QTime(9, 5)), 1, 2),
              QString::fromUtf8("mercredi 9 décembre 2026 9:05, Page: 1 / 2"));
    EXPECT_EQ(printing::FooterText(QDateTime(QDate(2027, 2, 1), QTime(14, 30)), 3, 3),
              QStringLiteral("lundi 1 février 2027 14:30, Page: 3 / 3").normalized(QString::NormalizationForm_C));
    EXPECT_EQ(printing::PageCount(5, {2, 2}), 2);
    EXPECT_EQ(printing::PageCount(4, {2, 2}), 1);
    EXPECT_EQ(printing::PageCount(17, {4, 4}), 2);
    EXPECT_EQ(printing::PageCount(0, {1, 1}), 0);
    EXPECT_EQ(printing::CellWidth(1000, 2), 470);
    EXPECT_EQ(printing::CellHeight(1001, 4), 225);
    // A tall picture in a wide cell: the cell's height, at the cell's left.
    EXPECT_EQ(printing::PictureRect({20, 40}, {600, 300}, {100, 200}), QRect(20, 40, 150, 300));
    // A wide one in a tall cell: the cell's width, at the cell's top.
    EXPECT_EQ(printing::PictureRect({20, 40}, {300, 600}, {400, 100}), QRect(20, 40, 300, 75));
    EXPECT_TRUE(printing::PictureRect({0, 0}, {300, 600}, {0, 100}).isEmpty());
}

// A 500-character accession number: the PDF's name is cut to what the file system takes
// (two such numbers sharing their beginning still give two names), and the file is made.
TEST(PrintingFileName, AVeryLongAccessionNumberGivesANameTheFileSystemTakes)
{
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 5, 7));
    const QString a = QString(500, QLatin1Char('7'));
    const QString pa = printing::FallbackPdfPath(a, start);
    const QString pb = printing::FallbackPdfPath(a.left(499) + QLatin1Char('8'), start);
    EXPECT_NE(pa, pb);
    for (const QString &path : {pa, pb}) {
        const QFileInfo info(path);
        EXPECT_LE(QFile::encodeName(info.fileName()).size(), 200) << path.toStdString();
        EXPECT_TRUE(info.fileName().startsWith(a.left(100)));
        EXPECT_TRUE(info.fileName().endsWith(QStringLiteral(".pdf")));
    }
    QTemporaryDir dir;
    QFile made(dir.filePath(QFileInfo(pa).fileName()));
    EXPECT_TRUE(made.open(QIODevice::WriteOnly)) << made.errorString().toStdString();
}

TEST_F(PrintingTest, AllSeriesFromTheOwnerDrawnMenuSelectsTheWholeVisitInRed)
{
    OpenVisit();
    TFrameDicomViewer *frame = Frames().first();
    QMenu *menu = selection::PopupMenuSelect(*frame);
    // The main window's owner-drawn menu code draws it.
    EXPECT_NE(qobject_cast<TOwnerDrawStyle *>(menu->style()), nullptr);
    const auto visit = VisitData().VisitImages();
    int shown = 0;
    for (TFrameDicomViewer *f : Frames())
        shown += f->DicomViewer()->Images()->Count();
    ASSERT_LT(shown, visit->Count()) << "some images must lie outside the frames";
    MenuItem(frame, "Slectionnertouteslesimagesdetouteslessries1")->trigger();
    EXPECT_EQ(selection::CountSelected(*visit), visit->Count());
    for (int i = 1; i <= visit->Count(); ++i)
        EXPECT_EQ(visit->Item(i)->Labels()->Item(loading::kLabelSelection)->BackColour(),
                  selection::kAllSelectedColour) << i;
    // The frames reached are the child window's.
    EXPECT_EQ(window->ChildFrames(frame), Frames());
    MenuItem(frame, "Dslectionnertouteslesimagesdetouteslessries1")->trigger();
    EXPECT_EQ(selection::CountSelected(*visit), 0);
}

TEST_F(PrintingTest, FiveImagesInTwoByTwoMakeTwoPagesWithTheirFooters)
{
    OpenVisit();
    SelectOnly({1, 2, 3, 4, 5});
    const auto report = Print({2, 2});
    ASSERT_TRUE(report.finished);
    EXPECT_EQ(report.pages, 2);
    EXPECT_EQ(report.pictures, 5);
    EXPECT_EQ(PdfPages(pdf), 2);
    EXPECT_EQ(PdfPageSize(pdf), QStringLiteral("595 x 842")) << PdfPageSize(pdf).toStdString();
    const QString first = PdfText(pdf, 1), second = PdfText(pdf, 2);
    EXPECT_TRUE(first.endsWith(QStringLiteral("Page: 1 / 2"))) << first.toStdString();
    EXPECT_TRUE(first.startsWith(QString::fromUtf8("mercredi 9 décembre 2026 9:05"))) << first.toStdString();
    EXPECT_TRUE(second.endsWith(QStringLiteral("Page: 2 / 2"))) << second.toStdString();
    CheckPlacement(report, {2, 2});
    // The selection marker is hidden while printing, and shows again afterwards.
    for (int page = 1; page <= 2; ++page)
        EXPECT_EQ(MarkerPixels(PdfPage(pdf, page, 100)), 0) << page;
    EXPECT_TRUE(VisitData().VisitImages()->Item(1)->Labels()->Item(loading::kLabelSelection)->Visible());
}

TEST_F(PrintingTest, ImagesFarApartPrintOnePerPageAndATallOneKeepsToTheCellsLeft)
{
    OpenVisit();
    const auto visit = VisitData().VisitImages();
    ASSERT_GE(visit->Count(), 40);
    SelectOnly({2, 40});
    auto report = Print({1, 1});
    ASSERT_TRUE(report.finished);
    EXPECT_EQ(PdfPages(pdf), 2);
    EXPECT_EQ(report.placed.size(), 2);
    EXPECT_EQ(report.placed[0].first, 0);
    EXPECT_EQ(report.placed[1].first, 1);
    CheckPlacement(report, {1, 1});

    // 1 x 2 on portrait paper: each cell is wider than high, a square picture takes the
    // cell's height from its left edge.
    const auto image = visit->Item(40);
    image->SetDisplayCell(QRectF(0, 0, 300, 300));
    SelectOnly({40});
    report = Print({1, 2});
    ASSERT_TRUE(report.finished);
    ASSERT_EQ(report.placed.size(), 1);
    const int ch = printing::CellHeight(printer->height(), 2);
    ASSERT_GT(printing::CellWidth(printer->width(), 1), ch);
    EXPECT_EQ(report.placed[0].second, QRect(20, 20, ch, ch));
    CheckPlacement(report, {1, 2});
}

TEST_F(PrintingTest, TheMenuCommandPrintsWhatTheScreenShowsWithoutTheMarker)
{
    OpenVisit();
    TFrameDicomViewer *frame = Frames().first();
    window->SetCurrentFrame(frame);
    const auto image = Shown(frame);
    // A window and a rotation made on screen, the overlay hidden on this image.
    image->SetWidth(image->Width() / 3);
    image->SetLevel(image->Level() + image->Width() / 2);
    frame->ApplyToSeries(1);
    frame->ApplyToSeries(15);
    ASSERT_EQ(image->RotateState(), 1);
    image->SetShowLabels(false);
    // The second frame's image keeps its overlay.
    const auto withText = Shown(Frames().at(1));
    ASSERT_TRUE(withText->ShowLabels());
    const auto visit = VisitData().VisitImages();
    int first = 0, second = 0;
    for (int i = 1; i <= visit->Count(); ++i) {
        if (visit->Item(i) == image)
            first = i;
        if (visit->Item(i) == withText)
            second = i;
    }
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    SelectOnly({first, second});
    int asked = 0;
    printing::SetFormatFunction([&](QWidget *) { ++asked; return printing::TPrintGrid{1, 1}; });
    printing::SetPrinterFunction([&] {
        auto p = PdfPrinter(pdf);
        printer = PdfPrinter(pdf); // the same settings, to map its units
        return p;
    });
    window->Action(QStringLiteral("Impressionstandard1"))->trigger();
    EXPECT_TRUE(window->Action(QStringLiteral("Impressionstandard1"))->isEnabled());
    EXPECT_FALSE(window->NotBuiltCommands().contains(QStringLiteral("Impressionstandard1")));
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(PdfPages(pdf), 2);

    // The printed picture is the image as on screen, not as loaded.
    std::unique_ptr<imaging::DicomViewerLight> renderer(loading::NewViewerControl(nullptr));
    const int ch = printing::CellHeight(printer->height(), 1), cw = printing::CellWidth(printer->width(), 1);
    const QImage page = PdfPage(pdf, 1, 100);
    const QRect cell = OnPage(*printer, QRect(20, 20, cw, ch - kFooterBand), 100);
    const QRect ink = InkBox(page, cell);
    ASSERT_FALSE(ink.isNull());
    // Where the picture was meant to go, found on the page.
    const QRect meant = OnPage(*printer, printing::PictureRect({20, 20}, {cw, ch}, image->DisplayCell().size()), 100);
    EXPECT_TRUE(Near(ink, meant & cell, page.size()));
    const QImage printed = page.copy(meant);
    const QImage onScreen = renderer->Picture(image, meant.size());
    const double widthNow = image->Width(), levelNow = image->Level();
    frame->ApplyToSeries(16);
    loading::DefaultWindow(*image);
    const QImage asLoaded = renderer->Picture(image, meant.size());
    image->SetWidth(widthNow);
    image->SetLevel(levelNow);
    frame->ApplyToSeries(15);
    const double same = Difference(printed, onScreen), other = Difference(printed, asLoaded);
    if (qEnvironmentVariableIsSet("KORVANE_PRINT_DEBUG")) {
        printed.save(QStringLiteral("/tmp/shots/dbg-printed.png"));
        onScreen.save(QStringLiteral("/tmp/shots/dbg-onscreen.png"));
        asLoaded.save(QStringLiteral("/tmp/shots/dbg-asloaded.png"));
    }
    EXPECT_LT(same, 8.0);
    EXPECT_GT(other, 3 * same + 5) << same << " " << other;

    // The overlay: text in the picture's top-left corner on page 2, none on page 1.
    const QImage page2 = PdfPage(pdf, 2, 100);
    const QRect ink2 = InkBox(page2, cell);
    auto bright = [](const QImage &p, const QRect &r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += qGray(p.pixel(x, y)) > 180;
        return n;
    };
    const QRect corner1(ink.topLeft(), QSize(ink.width() / 4, ink.height() / 12));
    const QRect corner2(ink2.topLeft(), QSize(ink2.width() / 4, ink2.height() / 12));
    EXPECT_EQ(bright(page, corner1), 0);
    EXPECT_GT(bright(page2, corner2), 20);
    // Never the marker, though both images are selected.
    EXPECT_EQ(MarkerPixels(page), 0);
    EXPECT_EQ(MarkerPixels(page2), 0);
}

TEST_F(PrintingTest, NothingSelectedWarnsAndACancelledDialogPrintsNothing)
{
    OpenVisit();
    SelectOnly({});
    int printers = 0, asked = 0;
    printing::SetPrinterFunction([&] { ++printers; return PdfPrinter(pdf); });
    printing::SetFormatFunction([&](QWidget *) { ++asked; return printing::TPrintGrid{}; });
    shell.messages.clear();
    window->Appercuavantimpression1Click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QString::fromUtf8("Aucune image n'a été sélectionnée."));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtWarning);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(printers, 0);

    // The real dialog, left with Escape.
    SelectOnly({1});
    printing::SetFormatFunction({});
    WhenModalShows([](QWidget *modal) {
        EXPECT_NE(qobject_cast<TFormImpressionStd *>(modal), nullptr);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    window->Appercuavantimpression1Click();
    EXPECT_EQ(printers, 0);
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST(FormImpressionStd, EachFormatButtonClosesWithItsGridAndEscapeWithNone)
{
    ShellFixture shell;
    shell.Create();
    const std::vector<std::pair<const char *, printing::TPrintGrid>> formats{
        {"SBImage1x1", {1, 1}}, {"SBImage1x2", {1, 2}}, {"SBImage2x2", {2, 2}}, {"SBImage4x4", {4, 4}}};
    for (const auto &[name, grid] : formats) {
        TFormImpressionStd dialog;
        WhenModalShows([name = QLatin1String(name)](QWidget *modal) {
            modal->findChild<QToolButton *>(name)->click();
        });
        EXPECT_EQ(dialog.ShowModal(), int(mrOk)) << name;
        EXPECT_EQ(dialog.Columns, grid.columns) << name;
        EXPECT_EQ(dialog.Rows, grid.rows) << name;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Formats d'impression"));
    }
    TFormImpressionStd dialog;
    dialog.Columns = 2;
    WhenModalShows([](QWidget *modal) { static_cast<TFormImpressionStd *>(modal)->SBCancel->click(); });
    EXPECT_EQ(dialog.ShowModal(), int(mrCancel));
    EXPECT_EQ(dialog.Columns, 0);
    EXPECT_EQ(dialog.Rows, 0);
}

TEST_F(PrintingTest, WithoutAPrinterThePagesCanGoToAPdfFileInTheHomeFolder)
{
    OpenVisit();
    SelectOnly({1, 2, 3});
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", out.path().toLocal8Bit());
    printing::SetPrinterFunction([] { return std::unique_ptr<QPrinter>(); });
    printing::SetFormatFunction([](QWidget *) { return printing::TPrintGrid{2, 2}; });
    shell.messages.clear();
    shell.answer = mrNo;
    window->Appercuavantimpression1Click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtConfirmation);
    EXPECT_TRUE(shell.messages[0].text.startsWith(QString::fromUtf8(
        "Aucune imprimante n'est installée sur cet ordinateur.\rVoulez-vous enregistrer les pages dans un fichier PDF ?")));
    EXPECT_TRUE(QDir(out.path()).entryList({QStringLiteral("*.pdf")}).isEmpty());

    shell.messages.clear();
    shell.answer = mrYes;
    window->Appercuavantimpression1Click();
    const QStringList files = QDir(out.path()).entryList({QStringLiteral("*.pdf")});
    qputenv("HOME", home);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith(QStringLiteral("CT20261109001_") + QDate::currentDate().toString(Qt::ISODate)))
        << files[0].toStdString();
    const QString file = out.filePath(files[0]);
    EXPECT_EQ(PdfPages(file), 1);
    EXPECT_TRUE(PdfText(file, 1).endsWith(QStringLiteral("Page: 1 / 1")));
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[1].kind, TMsgDlgType::mtInformation);
    EXPECT_TRUE(shell.messages[1].text.endsWith(files[0]));
    // The path with characters a file name cannot hold.
    EXPECT_TRUE(printing::FallbackPdfPath(QStringLiteral("A/B 1"), start).endsWith(QStringLiteral("/A_B_1_2026-12-09_0905.pdf")));
}

TEST_F(PrintingTest, ANewPdfNeverReplacesAnEarlierOne)
{
    OpenVisit();
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    const auto restore = qScopeGuard([&] { qputenv("HOME", savedHome); });
    // Within one minute: the minute, then the second, then a counter.
    const QDateTime at(QDate(2026, 12, 9), QTime(9, 5, 42));
    auto touch = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write("earlier") == 7;
    };
    const QString first = printing::FallbackPdfPath(QStringLiteral("CT1"), at);
    EXPECT_EQ(first, home.filePath("CT1_2026-12-09_0905.pdf"));
    ASSERT_TRUE(touch(first));
    const QString second = printing::FallbackPdfPath(QStringLiteral("CT1"), at);
    EXPECT_EQ(second, home.filePath("CT1_2026-12-09_090542.pdf"));
    ASSERT_TRUE(touch(second));
    const QString third = printing::FallbackPdfPath(QStringLiteral("CT1"), at);
    EXPECT_EQ(third, home.filePath("CT1_2026-12-09_090542_2.pdf"));
    ASSERT_TRUE(touch(third));
    EXPECT_EQ(printing::FallbackPdfPath(QStringLiteral("CT1"), at), home.filePath("CT1_2026-12-09_090542_3.pdf"));

    // Two prints in a row through the menu command (most often within one minute): two
    // files, the first one intact.
    SelectOnly({1, 2, 3});
    printing::SetPrinterFunction([] { return std::unique_ptr<QPrinter>(); });
    printing::SetFormatFunction([](QWidget *) { return printing::TPrintGrid{2, 2}; });
    shell.answer = mrYes;
    window->Appercuavantimpression1Click();
    QStringList pdfs = QDir(home.path()).entryList({QStringLiteral("CT2026*.pdf")}, QDir::Files, QDir::Name);
    ASSERT_EQ(pdfs.size(), 1);
    QFile earlier(home.filePath(pdfs[0]));
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    const QByteArray firstBytes = earlier.readAll();
    earlier.close();
    SelectOnly({4});
    window->Appercuavantimpression1Click();
    pdfs = QDir(home.path()).entryList({QStringLiteral("CT2026*.pdf")}, QDir::Files, QDir::Name);
    ASSERT_EQ(pdfs.size(), 2) << pdfs.join(' ').toStdString();
    QFile again(home.filePath(pdfs[0]));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), firstBytes);
    EXPECT_EQ(PdfPages(home.filePath(pdfs[1])), 1);
}
