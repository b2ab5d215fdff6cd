// The window's language: how it is chosen, that every Japanese text of the
// program has its English translation, that the English texts fit the fixed
// layout, and that saved files do not depend on the language.
#include "acquisition/session.h"
#include "app/clock_text.h"
#include "faces/faces.h"
#include "tests/support/form_fixture.h"
#include "translations/ui_language.h"
#include "translations/untranslated_texts.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTest>

using testing::FormFixture;
using translations::Language;

static const QString kSourceDir = QStringLiteral(TAVRIN_SOURCE_DIR);

class TestTranslations : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { (void)translations::InstallTranslators(*qApp, Language::Japanese); }

    void languageChoice_data() {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("lang"); // the --lang value; empty: none given
        QTest::addColumn<bool>("english");
        QTest::newRow("no language") << QStringList{} << "" << false;
        QTest::newRow("C locale") << QStringList{"C"} << "" << false;
        QTest::newRow("Japanese") << QStringList{"ja-JP", "ja"} << "" << false;
        QTest::newRow("English") << QStringList{"en-US", "en"} << "" << true;
        QTest::newRow("German") << QStringList{"de-DE"} << "" << true;
        QTest::newRow("German, then Japanese") << QStringList{"de-DE", "ja-JP"} << "" << false;
        QTest::newRow("C, then English") << QStringList{"C", "en_US"} << "" << true;
        QTest::newRow("--lang en over Japanese") << QStringList{"ja-JP"} << "en" << true;
        QTest::newRow("--lang ja over English") << QStringList{"en-US"} << "ja" << false;
    }
    void languageChoice() {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QString, lang);
        QFETCH(bool, english);
        const auto choice = lang.isEmpty() ? std::nullopt : translations::ParseLanguage(lang);
        QCOMPARE(translations::ChooseLanguage(uiLanguages, choice) == Language::English, english);
    }

    void stringLiteralsOfASource_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("literals"); // "line: text"
        QTest::newRow("comments skipped")
            << "// \"注\"\n/* \"注\"\n */ f(\"読み\");" << QStringList{"3: 読み"};
        QTest::newRow("joined, escapes") << "a = u\"前\"\n    \"後\\\"\\n\";" << QStringList{"1: 前後\"\n"};
        QTest::newRow("macro arguments apart")
            << "QT_TRANSLATE_NOOP(\"Status\", \"応答\")" << QStringList{"1: Status", "1: 応答"};
        QTest::newRow("characters and digits")
            << "c = u'（'; n = 1'000; s = \"終了\";" << QStringList{"1: 終了"};
        QTest::newRow("raw") << "r = R\"x(行\n\"x)x\"; s = \"次\";" << QStringList{"1: 行\n\"x", "2: 次"};
    }
    void stringLiteralsOfASource() {
        QFETCH(QString, code);
        QFETCH(QStringList, literals);
        QStringList found;
        for (const auto& l : translations::StringLiterals(QStringLiteral("a.cpp"), code))
            found << QStringLiteral("%1: %2").arg(l.line).arg(l.text);
        QCOMPARE(found, literals);
    }

    // Fails for a Japanese text in the sources without a finished English translation:
    // mark it (tr(), or QT_TRANSLATE_NOOP("Status", ...) for a status text), run the
    // update_translations target and translate it in translations/tavrin_en.ts. The
    // untranslated-texts tool lists them.
    void everyJapaneseTextHasAnEnglishTranslation() {
        QVERIFY2(translations::JapaneseSourceTexts(kSourceDir).size() >= 14, "the scan found too few texts");
        QStringList missing;
        for (const auto& t : translations::UntranslatedTexts(kSourceDir))
            missing << QStringLiteral("%1:%2: \"%3\"").arg(t.file).arg(t.line).arg(t.text);
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("no English translation for:\n") + missing.join(u'\n')));
    }

    void theWindowInEachLanguage_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("autoPrint");
        QTest::addColumn<QString>("finished");
        QTest::addColumn<QString>("cancel"); // a button of Qt's own dialogs
        QTest::newRow("Japanese") << false << "自動印刷"
                                  << "データ取り込み終了"
                                  << "キャンセル";
        QTest::newRow("English") << true << "Auto print"
                                 << "Data capture finished"
                                 << "Cancel";
    }
    void theWindowInEachLanguage() {
        QFETCH(bool, english);
        QFETCH(QString, autoPrint);
        QFETCH(QString, finished);
        QFETCH(QString, cancel);
        QVERIFY(translations::InstallTranslators(*qApp, english ? Language::English : Language::Japanese));
        FormFixture fx;
        TForm1& f = *fx.form;
        QCOMPARE(f.CheckBox7->text(), autoPrint);
        f.ShowStatus(acquisition::kStatusFinished);
        QCOMPARE(f.Label3->text(), finished);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);

        // Nothing clipped: each check box holds its text beside the tick mark ...
        for (QCheckBox* box : f.findChildren<QCheckBox*>()) {
            const int needed = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                               box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
                               box->fontMetrics().horizontalAdvance(box->text());
            QVERIFY2(needed <= box->width(), qPrintable(box->text()));
        }
        // ... each translated label in a group stays inside the group and off its neighbours ...
        const auto messages =
            translations::ReadCatalog(kSourceDir + QStringLiteral("/translations/tavrin_en.ts"));
        QSet<QString> translated;
        for (auto m = messages.cbegin(); m != messages.cend(); ++m)
            translated << m.key() << m->translation;
        for (QGroupBox* group : f.findChildren<QGroupBox*>())
            for (QLabel* label : group->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (!translated.contains(label->text()))
                    continue;
                QVERIFY2(group->rect().adjusted(1, 1, -1, -1).contains(label->geometry()),
                         qPrintable(label->text()));
                for (QWidget* other : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                    QVERIFY2(other == label || !other->geometry().intersects(label->geometry()),
                             qPrintable(label->text() + QStringLiteral(" / ") + other->objectName()));
            }
        // ... and every status text ends before the chart's right edge.
        for (auto m = messages.cbegin(); m != messages.cend(); ++m) {
            if (m->context != u"Status")
                continue;
            const QString text = translations::StatusText(m.key());
            f.ShowStatus(text.contains(u"%1") ? text.arg("tavrin0.bmp", "Permission denied") : text);
            QVERIFY2(f.Label3->geometry().right() <= f.Image1->geometry().right(),
                     qPrintable(f.Label3->text()));
        }
    }

    // The clock box (68 pixels, 60 for text) keeps the locale's long time where it fits.
    void clockFitsItsBox_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<int>("textWidth");
        QTest::addColumn<QString>("clock");
        QTest::newRow("US English, in the box")
            << QLocale(QLocale::English, QLocale::UnitedStates) << 60 << "13:04:05";
        QTest::newRow("US English, room enough")
            << QLocale(QLocale::English, QLocale::UnitedStates) << 200 << "1:04:05 PM";
        QTest::newRow("Japanese, in the box")
            << QLocale(QLocale::Japanese, QLocale::Japan) << 60 << "13:04:05";
        QTest::newRow("Japanese, room enough")
            << QLocale(QLocale::Japanese, QLocale::Japan) << 200 << "13:04:05";
    }
    void clockFitsItsBox() {
        QFETCH(QLocale, locale);
        QFETCH(int, textWidth);
        QFETCH(QString, clock);
        const QDateTime now(QDate(2024, 5, 1), QTime(13, 4, 5));
        QCOMPARE(ClockText(now, locale, QFontMetrics(faces::Window(13)), textWidth), clock);
    }

    void savedFilesAreTheSameInEitherLanguage() {
        QTemporaryDir dir;
        QMap<QString, QByteArray> saved[2];
        for (const Language language : {Language::Japanese, Language::English}) {
            QVERIFY(translations::InstallTranslators(*qApp, language));
            FormFixture fx;
            fx.Show();
            fx.form->Button1Click(); // sampling time 11
            fx.form->CheckBox5->setChecked(false);
            fx.form->CheckBox6->setChecked(true);
            fx.form->Edit3->setText(dir.filePath("sweep"));
            fx.Run();
            QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
            for (const QString& path :
                 {dir.filePath("sweep0.bmp"), dir.filePath("sweep0.txt"), fx.ParamFile()}) {
                QFile f(path);
                QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
                saved[int(language)].insert(QFileInfo(path).fileName(), f.readAll());
                QVERIFY(f.remove());
            }
        }
        QVERIFY(saved[1] == saved[0]);
        QVERIFY(saved[0]["sweep0.txt"].contains("SamplingTime = 11* 0.1S\r\nFileName = "));
    }
};

QTEST_MAIN(TestTranslations)
#include "translations_test.moc"
