#include "printing/chart_printer.h"
#include "printing/print_dialog.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 160, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kYellow = qRgb(255, 220, 0);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr int kPrinterDpi = 600;

// Four coloured quarters and a black stripe in columns 400 to 419.
QImage KnownPicture() {
    QImage picture(609, 403, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const bool right = x >= 304;
            const bool lower = y >= 201;
            QRgb colour = lower ? (right ? kYellow : kBlue) : (right ? kGreen : kRed);
            if (x >= 400 && x < 420) {
                colour = kBlack;
            }
            picture.setPixel(x, y, colour);
        }
    }
    return picture;
}

bool Near(QRgb actual, QRgb expected) {
    return qAbs(qRed(actual) - qRed(expected)) <= 24 && qAbs(qGreen(actual) - qGreen(expected)) <= 24 &&
           qAbs(qBlue(actual) - qBlue(expected)) <= 24;
}

class AnsweringDialog : public printing::PrintDialog {
public:
    explicit AnsweringDialog(QString chosenFile) : chosenFile_(std::move(chosenFile)) {}
    bool Exec(QPrinter& printer, QWidget*) override {
        ++shown;
        if (chosenFile_.isEmpty()) {
            return false;
        }
        printer.setOutputFileName(chosenFile_);
        return true;
    }
    int shown = 0;

private:
    QString chosenFile_;
};

} // namespace

class ChartPrinterTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void printRectangle_data();
    void printRectangle();
    void pictureLandsInRectangle();
    void emptyPicturePrintsBlankPage();
    void cancelledDialogPrintsNothing();
    void dialogChoiceStaysForLaterJobs();
    void unusablePrinter_data();
    void unusablePrinter();
    void secondJobWhileFirstIsProduced();

private:
    // Renders every page of the PDF at dpi; empty when poppler's renderer is missing.
    QList<QImage> Render(const QString& pdf, int dpi, const QStringList& extra = {});

    QTemporaryDir dir_;
    QString pdf_;
};

void ChartPrinterTest::init() {
    QPrinter& printer = printing::ProcessPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    // What a high-resolution printer object starts with; printing a PDF must bring it to 600 dpi.
    printer.setResolution(1200);
    pdf_ = dir_.filePath(QString("%1.pdf").arg(QTest::currentTestFunction()));
    printer.setOutputFileName(pdf_);
}

QList<QImage> ChartPrinterTest::Render(const QString& pdf, int dpi, const QStringList& extra) {
    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    if (pdftoppm.isEmpty()) {
        return {};
    }
    QTemporaryDir out;
    QProcess process;
    process.start(pdftoppm, QStringList{"-r", QString::number(dpi), "-png"} + extra +
                                QStringList{pdf, out.filePath("page")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning() << "pdftoppm failed:" << process.readAllStandardError();
        return {};
    }
    QList<QImage> pages;
    for (const QString& name : QDir(out.path()).entryList({"page*.png"}, QDir::Files, QDir::Name)) {
        pages << QImage(out.filePath(name)).convertToFormat(QImage::Format_RGB32);
    }
    return pages;
}

void ChartPrinterTest::printRectangle_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<float>("scale");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bottom");

    QTest::newRow("chart at 7.5") << QSize(609, 403) << 7.5f << 4567 << 3022;
    QTest::newRow("not drawn yet") << QSize(0, 0) << 7.5f << 0 << 0;
    QTest::newRow("one pixel") << QSize(1, 1) << 7.5f << 7 << 7;
    QTest::newRow("two pixels") << QSize(2, 2) << 7.5f << 15 << 15;
    QTest::newRow("unscaled") << QSize(609, 403) << 1.0f << 609 << 403;
    QTest::newRow("shrunk") << QSize(609, 403) << 0.5f << 304 << 201;
}

void ChartPrinterTest::printRectangle() {
    QFETCH(QSize, picture);
    QFETCH(float, scale);
    QFETCH(int, right);
    QFETCH(int, bottom);

    const QRect rect = printing::PrintRectangle(picture, scale);
    QCOMPARE(rect.topLeft(), QPoint(0, 0));
    QCOMPARE(rect.x() + rect.width(), right);
    QCOMPARE(rect.y() + rect.height(), bottom);
}

void ChartPrinterTest::pictureLandsInRectangle() {
    QVERIFY(printing::PrintPicture(printing::ProcessPrinter(), KnownPicture(), printing::kPrintScale));
    QCOMPARE(printing::ProcessPrinter().resolution(), kPrinterDpi);
    QFile pdf(pdf_);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY2(!pdf.readAll().contains("/DCTDecode"), "the picture went into the PDF as JPEG");

    // At a tenth of the printer's resolution one page pixel is ten device pixels.
    const QList<QImage> pages = Render(pdf_, kPrinterDpi / 10);
    if (pages.isEmpty()) {
        QSKIP("pdftoppm (poppler-utils) is needed to look at the page");
    }
    QCOMPARE(pages.size(), 1);
    const QImage& page = pages.first();
    const QPoint deviceOrigin = printing::ProcessPrinter().pageRect(QPrinter::DevicePixel).topLeft().toPoint();
    const QPoint origin = deviceOrigin / 10;
    const auto at = [&](int x, int y) { return page.pixel(origin + QPoint(x, y)); };
    // The rectangle ends at 456.7, 302.2 page pixels from the origin.
    const struct {
        QPoint where;
        QRgb colour;
    } expectations[] = {
        {{2, 2}, kRed},       {{454, 2}, kGreen},    {{2, 300}, kBlue},     {{454, 300}, kYellow},
        {{307, 100}, kBlack}, {{296, 250}, kYellow}, {{318, 250}, kYellow}, {{150, 160}, kBlue},
        {{459, 150}, kWhite}, {{150, 305}, kWhite},  {{-4, -4}, kWhite},
    };
    for (const auto& e : expectations) {
        QVERIFY2(Near(at(e.where.x(), e.where.y()), e.colour),
                 qPrintable(QString("page pixel (%1, %2) is #%3")
                                .arg(e.where.x())
                                .arg(e.where.y())
                                .arg(at(e.where.x(), e.where.y()) & 0xFFFFFF, 6, 16, QChar('0'))));
    }

    // At the printer's own resolution the picture ends at device pixels 4567 and 3022. The
    // renderer rounds the last fraction of a pixel in Qt's page coordinates outward, so the
    // pixel right at each edge may go either way: look one further.
    const QPoint corner = deviceOrigin + QPoint(4567, 3022);
    const QList<QImage> crop = Render(pdf_, kPrinterDpi,
                                      {"-x", QString::number(corner.x() - 8), "-y",
                                       QString::number(corner.y() - 8), "-W", "16", "-H", "16"});
    QCOMPARE(crop.size(), 1);
    QVERIFY(Near(crop.first().pixel(6, 6), kYellow));
    QVERIFY(Near(crop.first().pixel(9, 6), kWhite));
    QVERIFY(Near(crop.first().pixel(6, 9), kWhite));

    const QString artefacts = qEnvironmentVariable("TAVRIN_TEST_ARTEFACTS");
    if (!artefacts.isEmpty() && QDir().mkpath(artefacts)) {
        page.save(artefacts + "/printed_chart_page.png");
    }
}

void ChartPrinterTest::emptyPicturePrintsBlankPage() {
    QVERIFY(printing::PrintPicture(printing::ProcessPrinter(), QImage(), printing::kPrintScale));
    QVERIFY(QFileInfo(pdf_).size() > 0);
    const QList<QImage> pages = Render(pdf_, 30);
    if (pages.isEmpty()) {
        QSKIP("pdftoppm (poppler-utils) is needed to look at the page");
    }
    QCOMPARE(pages.size(), 1);
    const QImage& page = pages.first();
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            QVERIFY(page.pixel(x, y) == kWhite);
        }
    }
}

void ChartPrinterTest::cancelledDialogPrintsNothing() {
    AnsweringDialog dialog{QString()};
    QVERIFY(printing::PrintPictureAfterDialog(dialog, nullptr, printing::ProcessPrinter(), KnownPicture(),
                                             printing::kPrintScale));
    QCOMPARE(dialog.shown, 1);
    QVERIFY(!QFileInfo::exists(pdf_));
}

void ChartPrinterTest::dialogChoiceStaysForLaterJobs() {
    const QString chosen = dir_.filePath("chosen.pdf");
    AnsweringDialog dialog(chosen);
    QVERIFY(printing::PrintPictureAfterDialog(dialog, nullptr, printing::ProcessPrinter(), KnownPicture(),
                                             printing::kPrintScale));
    QVERIFY(QFileInfo::exists(chosen));
    QVERIFY(QFile::remove(chosen));

    // The automatic print at a sweep end shows no dialog and goes where the last one chose.
    QVERIFY(printing::PrintPicture(printing::ProcessPrinter(), KnownPicture(), printing::kPrintScale));
    QVERIFY(QFileInfo::exists(chosen));
    QVERIFY(!QFileInfo::exists(pdf_));
    QCOMPARE(dialog.shown, 1);
}

void ChartPrinterTest::unusablePrinter_data() {
    QTest::addColumn<QString>("outputFile");
    QTest::addColumn<QString>("message");

    // Without a print queue the default printer writes PDF to no file at all.
    QTest::newRow("no printer") << ""
                                << "Cannot print the chart: no printer is available";
    const QString missing = dir_.filePath("nodir/page.pdf");
    QTest::newRow("file cannot be created")
        << missing << QString("Cannot print the chart: the file %1 cannot be created").arg(missing);
}

void ChartPrinterTest::unusablePrinter() {
    QFETCH(QString, outputFile);
    QFETCH(QString, message);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(outputFile);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QPainter::begin.*"));
    const auto error = printing::PrintPicture(printer, KnownPicture(), printing::kPrintScale);
    QCOMPARE(error ? QString("printed") : error.Reason(), message);
}

void ChartPrinterTest::secondJobWhileFirstIsProduced() {
    // A job on a printer that is still producing another one is refused, not mixed into it.
    QPainter first(&printing::ProcessPrinter());
    const auto second = printing::PrintPicture(printing::ProcessPrinter(), KnownPicture(), printing::kPrintScale);
    QVERIFY(!second);
    QCOMPARE(second.Reason(), QString("Cannot print the chart: another print job is still in progress"));
    first.end();
    QVERIFY(QFileInfo(pdf_).size() > 0);
}

QTEST_MAIN(ChartPrinterTest)
#include "chart_printer_test.moc"
