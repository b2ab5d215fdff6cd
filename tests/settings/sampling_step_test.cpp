#include "settings/sampling_step.h"

#include <QTest>

using settings::SamplingStep;

class SamplingStepTest : public QObject {
    Q_OBJECT

private slots:
    void Step_data() {
        QTest::addColumn<quint16>("start");
        QTest::addColumn<SamplingStep>("step");
        QTest::addColumn<quint16>("result");
        const auto row = [](const char* name, quint16 start, SamplingStep step, quint16 result) {
            QTest::newRow(name) << start << step << result;
        };
        row("10 +1", 10, SamplingStep::Up1, 11);
        row("10 +10", 10, SamplingStep::Up10, 20);
        row("600 +1 stays", 600, SamplingStep::Up1, 600);
        row("600 +10 stays", 600, SamplingStep::Up10, 600);
        row("595 +10 stops at 600", 595, SamplingStep::Up10, 600);
        row("599 +1 reaches 600", 599, SamplingStep::Up1, 600);
        row("1 -1 stays", 1, SamplingStep::Down1, 1);
        row("1 -10 stays", 1, SamplingStep::Down10, 1);
        row("2 -1", 2, SamplingStep::Down1, 1);
        row("11 -10", 11, SamplingStep::Down10, 1);
        row("15 -10", 15, SamplingStep::Down10, 5);
        row("10 -10", 10, SamplingStep::Down10, 1);
        row("11 -1", 11, SamplingStep::Down1, 10);
        row("above 600 +1", 700, SamplingStep::Up1, 600);
        row("above 600 +10", 700, SamplingStep::Up10, 600);
        row("above 600 -1", 700, SamplingStep::Down1, 699);
        row("above 600 -10", 700, SamplingStep::Down10, 690);
        row("0 +1", 0, SamplingStep::Up1, 1);
        row("0 +10", 0, SamplingStep::Up10, 10);
        row("0 -10", 0, SamplingStep::Down10, 1);
        row("0 -1 wraps", 0, SamplingStep::Down1, 65535);
        row("65535 -1", 65535, SamplingStep::Down1, 65534);
        // 16-bit arithmetic: the sum wraps before the bound is tested.
        row("65535 +1 wraps", 65535, SamplingStep::Up1, 0);
        row("65530 +10 wraps", 65530, SamplingStep::Up10, 4);
        row("65529 +10", 65529, SamplingStep::Up10, 3);
        row("65525 +10", 65525, SamplingStep::Up10, 600);
    }
    void Step() {
        QFETCH(quint16, start);
        QFETCH(SamplingStep, step);
        QFETCH(quint16, result);
        QCOMPARE(settings::StepSamplingTime(start, step), result);
    }
};

QTEST_GUILESS_MAIN(SamplingStepTest)
#include "sampling_step_test.moc"
