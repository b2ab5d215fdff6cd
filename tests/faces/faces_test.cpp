// The faces the program draws with are the ones the set-up installs, whatever else the machine has:
// each face resolves to its named family, and Japanese text to the named gothic, never to whatever
// fontconfig would pick for "sans-serif" or "monospace" (Noto, Liberation, …).
#include "faces/faces.h"
#include "report/reporter.h"

#include <QFontInfo>
#include <QRawFont>
#include <QTextLayout>
#include <QtTest>

class FacesTest : public QObject {
    Q_OBJECT

private slots:
    void eachFaceIsItsNamedFamily_data() {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QString>("latin");
        QTest::addColumn<QString>("japanese");
        QTest::newRow("window") << faces::Window(12) << "IPAPGothic"
                                << "IPAPGothic";
        QTest::newRow("chart") << faces::Chart() << "IPAPGothic"
                               << "IPAPGothic";
        QTest::newRow("text") << faces::Text(QFont()) << "DejaVu Sans"
                              << "IPAGothic";
        QFont code;
        code.setFamilies(faces::CodeFamilies());
        QTest::newRow("code") << code << "DejaVu Sans Mono"
                              << "IPAGothic";
    }
    void eachFaceIsItsNamedFamily() {
        QFETCH(QFont, font);
        QFETCH(QString, latin);
        QFETCH(QString, japanese);
        QCOMPARE(FamilyOf(font, QStringLiteral("Sampling")), latin);
        QCOMPARE(FamilyOf(font, QStringLiteral("ファイル名")), japanese);
    }

    void everyNamedFaceIsInstalled() {
        QStringList said;
        const auto before =
            report::SetReportOutput([&said](const char*, const QString& text) { said << text; });
        faces::WindowFamilies();
        faces::TextFamilies();
        faces::CodeFamilies();
        report::SetReportOutput(before);
        QCOMPARE(said, QStringList());
    }

private:
    // The family that draws `text` in `font`.
    static QString FamilyOf(const QFont& font, const QString& text) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        return runs.size() == 1 ? runs.first().rawFont().familyName()
                                : QStringLiteral("%1 runs").arg(runs.size());
    }
};

QTEST_MAIN(FacesTest)
#include "faces_test.moc"
