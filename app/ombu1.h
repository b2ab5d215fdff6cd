// The logger's one window, TForm1, with its controls, its state fields and its
// handlers. The handlers stay short: the work is done by the subsystems'
// plain functions (device/, chart/, settings/, output/, acquisition/).
#pragma once

#include "acquisition/acquisition_run.h"
#include "acquisition/decoded_sample.h"
#include "acquisition/sample_feed.h"
#include "chart/chart_frame.h"
#include "chart/sample_plot.h"
#include "chart/tcolor.h"
#include "device/d2xx.h"
#include "device/exchange.h"
#include "device/message_pump.h"
#include "device/reply_frame.h"
#include "settings/param_record.h"
#include "settings/sampling_step.h"

#include <QDateTime>
#include <QHash>
#include <QSize>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class ChartView;
class RepaintBatch;
class ColorDialogSeam;
namespace output {
class LogView;
class PrintDialog;
} // namespace output
namespace trend {
class TrendSink;
class TrendWindow;
} // namespace trend

// Everything outside the window that the form reaches, so tests can replace it.
struct FormSeams {
    device::MessagePump* pump = nullptr;        // null: Qt's event loop
    bool runTimer = true;                       // false: the test calls Timer1Timer itself
    int tickMs = 100;                           // length of one tick
    std::function<QDateTime()> now;             // null: the system clock
    QString parameterFolder;                    // the folder of "ombu01.par"
    ColorDialogSeam* colorDialog = nullptr;     // null: the standard colour dialog
    output::PrintDialog* printDialog = nullptr; // null: the standard print dialog
    bool errorsToStandardError = false;         // unattended: errors go to stderr, not a modal box
    unsigned framelessReplyLimit = 0;           // unattended: replies without a frame in a row that end a run
    std::vector<acquisition::SampleSink*> sampleSinks; // fed every decoded sample of a run, in order
    std::function<std::chrono::milliseconds()> monotonic; // null: the steady clock (elapsed time of a run)
    bool unattended = false;                    // --exit-after-run: a run without a unit is an error
    bool reconnect = false;                     // unattended: a run whose unit vanished waits for it
};

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(FormSeams seams = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, by their designer names.
    QLabel* label2;
    QLabel* Label3;
    QLabel* Label14;
    QLabel* Label23;
    QLineEdit* Edit1;
    ChartView* Image1;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QGroupBox* GroupBox3;
    QGroupBox* GroupBox4;
    QGroupBox* GroupBox5;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QPushButton* Button9;
    QPushButton* Button10;
    QPushButton* Button13;
    QPushButton* Button14;
    QPushButton* Button15;
    QPushButton* Button16;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    QCheckBox* CheckBox5;
    QCheckBox* CheckBox6;
    QCheckBox* CheckBox7;
    output::LogView* Memo1;
    QTimer* Timer1;

    // State fields.
    std::int16_t ReplyTicks = 0;
    std::int16_t IntervalTicks = 0;
    std::uint16_t SamplingTime = 0;
    std::uint16_t FileIndex = 0;
    std::uint8_t Acquiring = 0;
    std::uint8_t GridDrawn = 0;
    std::uint8_t LevelWasLow[4] = {0, 0, 0, 0};
    settings::ParamRecord ParamRecord{};
    std::uint16_t SweepX = 0;
    TColor Ad0Color = 0;
    TColor Ad1Color = 0;
    char SerialNumber[64] = {};
    device::RxBufferBytes RxBuffer{};

    // Handlers.
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void CheckBox7Click();
    // Not the form's own: opens or raises the trend window (also Ctrl+T).
    void Button14Click();

    // Operations.
    void ShowStatus(const QString& text);
    void ConnectDevice();
    device::ExchangeResult ExchangeSample();
    std::optional<int> FindReplyFrame();
    void PlotReply();
    void ClearChart();
    void ResetSweep();
    bool LoadParameters();
    void SaveParameters();
    void WriteRunHeader();
    std::optional<QString> SaveSweep();
    std::optional<QString> PrintChart(float scale);
    std::optional<QString> PrintChartNow();

    // Not the form's own: where the settings live, how the last run ended.
    QString ParamFilePath() const;
    enum class LastRun { None, Normal, TimedOut, Error };
    LastRun LastRunEnd() const { return lastRun_; }
    bool RunInProgress() const { return runInProgress_; }
    device::MessagePump& Pump() { return *pump_; }
    QDateTime Now() const;
    // When PlotReply read the clock for the sample it drew last.
    const QDateTime& PlottedAt() const { return plottedAt_; }
    // The sample sinks of a run, with their problems going to the log pane and the status line.
    acquisition::SampleFeed MakeSampleFeed();
    // The trend window, made the first time it is asked for; its sink keeps every run's samples.
    trend::TrendWindow& Trend();

    // The unit before and during a run (unit_link.cpp). Before a run: whether one
    // may start, reopening the unit when it went away since it was opened.
    bool UnitReadyForRun();
    // After a reply wait timed out: whether the unit went away, said in the log
    // pane and fed to the run's sinks; with reconnect, waits for it to come back.
    acquisition::UnitLoss UnitLossAfterTimeout(acquisition::SampleFeed& feed);
    // A row with no values but its note (no reply, unit lost, unit back) at the column the run stands at.
    void FeedNote(acquisition::SampleFeed& feed, acquisition::SampleNote note);

    // From the start of a sample the window's repaints (and status texts) wait, until ReleaseRepaints
    // paints what the sample changed at the next pass of the event loop.
    void HoldRepaints();
    void ReleaseRepaints();

signals:
    // After FormShow has run.
    void Shown();
    // When START's handler returns.
    void RunEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void PaceTick();
    void SetStatusText(const QString& text);
    void BindHandlers();
    void StepSamplingTime(settings::SamplingStep step);
    void ChooseColor(TColor& field, int firstRecordByte);
    void OptionClicked(QCheckBox* box, int option);
    void ShowError(const QString& message);
    // A problem the run survives: into the log pane, and unattended to standard error as well.
    void ReportProblem(const QString& message);
    std::array<bool, settings::kOptionCount> OptionBoxes() const;
    chart::FrameTexts FrameTexts(const QDateTime& now) const;
    // What PlotReply draws for the reply whose marker stands at `marker`.
    chart::SampleMarks SampleMarksAt(int marker) const;
    acquisition::RunFields RunFields();
    QCheckBox* OptionBox(int option) const;
    void FollowChannelsInTrend();

    FormSeams seams_;
    std::unique_ptr<device::EventLoopPump> ownPump_;
    device::MessagePump* pump_;
    std::unique_ptr<ColorDialogSeam> ownColorDialog_;
    ColorDialogSeam* colorDialog_;
    std::unique_ptr<output::PrintDialog> ownPrintDialog_;
    output::PrintDialog* printDialog_;
    bool shownOnce_ = false;
    bool runInProgress_ = false;
    bool closePending_ = false;
    bool parameterFileLeftAlone_ = false; // it could not be read at start, so it is never saved over
    QString parameterProblem_;            // why the parameter file could not be used, last told
    LastRun lastRun_ = LastRun::None;
    bool unitOpenForRun_ = false; // the run began with an open unit
    QHash<QString, QSize> statusSizes_;
    RepaintBatch* repaints_ = nullptr; // one paint pass per sample
    std::optional<QString> pendingStatus_; // shown when the held repaints go out
    QDateTime plottedAt_;
    qint64 clockSecond_ = -1; // the second the clock box shows
    bool tickSlowed_ = false; // Timer1 waits for the clock's next second: nothing counts down
    std::unique_ptr<trend::TrendSink> trendSink_;
    std::unique_ptr<trend::TrendWindow> trendWindow_;
};

extern TForm1* Form1;
