// The logger's one window, TForm1, with its controls, its state fields and its
// handlers. The handlers stay short: the work is done by the subsystems'
// plain functions (device/, chart/, settings/, output/, acquisition/).
#pragma once

#include "acquisition/session.h"
#include "chart/tcolor.h"
#include "device/d2xx.h"
#include "device/ready_watch.h"
#include "settings/app_settings.h"
#include "settings/kept_settings.h"
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
class FormView;
class SettingsDialogSeam;
class ManualWindow;
namespace log_pane {
class LogView;
} // namespace log_pane
namespace printing {
class PrintDialog;
} // namespace printing
namespace trend {
class TrendSink;
class TrendWindow;
} // namespace trend

// Everything outside the window that the form reaches, so tests can replace it.
struct FormSeams {
    device::ReadyWatch* watch = nullptr;        // null: the event loop watches the unit
    bool runTimer = true;                       // false: the test calls Timer1Timer itself
    int tickMs = 100;                           // length of one tick
    std::function<QDateTime()> now;             // null: the system clock
    QString parameterFolder;                    // the folder of "ombu01.par"
    ColorDialogSeam* colorDialog = nullptr;     // null: the standard colour dialog
    printing::PrintDialog* printDialog = nullptr; // null: the standard print dialog
    bool errorsToStandardError = false;         // unattended: errors go to stderr, not a modal box
    unsigned framelessReplyLimit = 0;           // unattended: replies without a frame in a row that end a run
    std::vector<acquisition::SampleSink*> sampleSinks; // fed every decoded sample of a run, in order
    std::function<std::chrono::milliseconds()> monotonic; // null: the steady clock (elapsed time of a run)
    bool unattended = false;                    // --exit-after-run: a run without a unit is an error
    bool reconnect = false;                     // a run whose unit vanished (or is not there) waits for it
    QString settingsFolder;                     // where the settings beside the parameter file live; empty: none kept
    settings::AppSettings kept;                 // those settings as the program started
    channels::ChannelsOptions runChannels;      // the command line's channel fields, over the kept ones
    SettingsDialogSeam* settingsDialog = nullptr; // null: the standard settings dialog
};

class TForm1 : public QWidget {
    Q_OBJECT
    friend class FormView;

    // First, so that the state fields below can refer into the session.
    FormSeams seams_;
    std::unique_ptr<device::EventLoopWatch> ownWatch_ =
        seams_.watch ? nullptr : std::make_unique<device::EventLoopWatch>();
    device::ReadyWatch* watch_ = seams_.watch ? seams_.watch : ownWatch_.get();
    std::unique_ptr<FormView> view_;   // the form as the session sees it
    device::Unit unit_;                // the unit the session talks to
    std::unique_ptr<trend::TrendSink> trendSink_; // every sample of the runs, for the trend window
    acquisition::Session session_;

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
    log_pane::LogView* Memo1;
    QTimer* Timer1;

    // State fields. Those of the run are the session's, seen through the form.
    std::int16_t& ReplyTicks = session_.State().ReplyTicks;
    std::int16_t& IntervalTicks = session_.State().IntervalTicks;
    std::uint16_t& SamplingTime = session_.State().SamplingTime;
    std::uint16_t& FileIndex = session_.State().FileIndex;
    std::uint8_t& Acquiring = session_.State().Acquiring;
    std::uint8_t& GridDrawn = session_.Painter().GridDrawn;
    std::uint8_t (&LevelWasLow)[4] = session_.Painter().LevelWasLow;
    settings::ParamRecord ParamRecord{};
    std::uint16_t& SweepX = session_.State().SweepX;
    TColor Ad0Color = 0;
    TColor Ad1Color = 0;
    char (&SerialNumber)[device::kSerialNumberSize] = unit_.SerialNumber();
    device::RxBufferBytes& RxBuffer = session_.State().RxBuffer;

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
    // Not the form's own: SETTINGS, the settings dialog; what it changes is kept beside the
    // parameter file, and the channels apply from the next START.
    void Button15Click();

    // Operations; the run's steps are the session's.
    void ShowStatus(const QString& text);
    void ConnectDevice() { session_.ConnectDevice(); }
    std::optional<int> FindReplyFrame() { return session_.FindReplyFrame(); }
    void PlotReply() { session_.PlotReply(); }
    void ClearChart() { session_.ClearChart(); }
    void ResetSweep() { session_.ResetSweep(); }
    bool LoadParameters();
    // The kept settings as the window holds them, and the window set to show `kept`; the boxes'
    // handlers (which save the file) run as for a click, or not at all.
    enum class BoxHandlers { Run, Quiet };
    settings::KeptSettings Kept() const;
    void ShowKept(const settings::KeptSettings& kept, BoxHandlers handlers);
    void SaveParameters();
    void WriteRunHeader() { session_.WriteRunHeader(); }
    report::Done PrintChart(float scale);
    report::Done PrintChartNow();

    // Not the form's own: the session, where the settings live, how the last run ended.
    acquisition::Session& Session() { return session_; }
    device::Unit& Unit() { return unit_; }
    QString ParamFilePath() const;
    enum class LastRun { None, Normal, TimedOut, Error };
    LastRun LastRunEnd() const { return lastRun_; }
    bool RunInProgress() const { return session_.Running(); }
    QDateTime Now() const { return session_.Now(); }
    // The settings as the run reads them now.
    acquisition::RunSettings Settings() const;
    // The trend window, made the first time it is asked for; its sink keeps every run's samples.
    trend::TrendWindow& Trend();

    // From the start of a sample the window's repaints (and status texts) wait, until ReleaseRepaints
    // paints what the sample changed at the next pass of the event loop.
    void HoldRepaints();
    void ReleaseRepaints();

signals:
    // After FormShow has run.
    void Shown();
    // When a run has ended (or START found that none could start).
    void RunEnded();
    // When the window has closed.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void RunFinished(const acquisition::RunOutcome& outcome);
    void PaceTick();
    void SetStatusText(const QString& text);
    // The run's own texts, which may wait for the sample's repaints.
    void ShowRunStatus(const QString& text);
    void BindHandlers();
    void BindShortcuts();
    void OpenManual();
    void StepSamplingTime(settings::SamplingStep step);
    void ChooseColor(TColor& field, int firstRecordByte);
    void OptionClicked(QCheckBox* box, int option);
    void ShowError(const QString& message);
    // A problem the run survives: into the log pane, and unattended to standard error as well.
    void ReportProblem(const char* module, const QString& message);
    std::array<bool, settings::kOptionCount> OptionBoxes() const;
    QCheckBox* OptionBox(int option) const;
    void FollowChannelsInTrend();
    // The settings beside the parameter file, changed in the settings dialog or the trend window:
    // kept at once.
    void KeepSettings();
    // The channels a run takes: the kept ones with the command line's fields over them.
    void FollowChannels();

    std::unique_ptr<ColorDialogSeam> ownColorDialog_;
    ColorDialogSeam* colorDialog_;
    std::unique_ptr<SettingsDialogSeam> ownSettingsDialog_;
    SettingsDialogSeam* settingsDialog_;
    channels::Channels channels_; // the channels a run takes at START
    std::unique_ptr<printing::PrintDialog> ownPrintDialog_;
    printing::PrintDialog* printDialog_;
    bool shownOnce_ = false;
    bool closePending_ = false;
    bool parameterFileLeftAlone_ = false; // it could not be read at start, so it is never saved over
    QString parameterProblem_;            // why the parameter file could not be used, last told
    QString parameterNotice_;             // what of the parameter file was read but not taken as it stands
    LastRun lastRun_ = LastRun::None;
    QHash<QString, QSize> statusSizes_;
    RepaintBatch* repaints_ = nullptr; // one paint pass per sample
    ManualWindow* manual_ = nullptr;
    std::unique_ptr<trend::TrendWindow> trendWindow_;
    std::optional<QString> pendingStatus_; // shown when the held repaints go out
    std::function<void(const char*, const QString&)> previousReportOutput_;
    qint64 clockSecond_ = -1; // the second the clock box shows
    bool tickSlowed_ = false; // Timer1 waits for the clock's next second: nothing counts down
};

extern TForm1* Form1;
