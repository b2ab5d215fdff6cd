// A TForm1 on the simulated unit, driven by a DrivenLoop, with its parameter
// file in a temporary folder and its beeps counted.
#pragma once

#include "app/chart_view.h"
#include "app/color_dialog.h"
#include "app/log_pane/log_view.h"
#include "app/message_beep.h"
#include "app/ombu1.h"
#include "device/simulated_unit.h"
#include "tests/support/driven_loop.h"

#include <QTemporaryDir>
#include <memory>

namespace testing {

class ScriptedColorDialog : public ColorDialogSeam {
public:
    std::optional<TColor> answer;
    int calls = 0;
    std::function<void()> whileOpen; // the dialog's own loop, while a person looks at it
    std::optional<TColor> Execute(QWidget*) override {
        ++calls;
        if (whileOpen)
            whileOpen();
        return answer;
    }
};

struct FormFixture {
    explicit FormFixture(device::SimulatedUnitOptions unitOptions = {}, int tickMs = 100,
                         const std::function<void(FormSeams&)>& adjustSeams = {})
        : pump(tickMs) {
        auto unit = std::make_unique<device::SimulatedUnit>(std::move(unitOptions), [this] { return pump.Now(); });
        sim = unit.get();
        SetD2xxBackend(std::move(unit));
        SetMessageBeepHandler([this] { ++beeps; });
        FormSeams seams;
        seams.watch = &pump;
        seams.runTimer = false;
        seams.tickMs = tickMs;
        seams.now = [] { return QDateTime(QDate(2026, 12, 7), QTime(10, 20, 30)); };
        seams.parameterFolder = folder.path();
        seams.colorDialog = &colorDialog;
        seams.errorsToStandardError = true;
        if (adjustSeams)
            adjustSeams(seams);
        form = std::make_unique<TForm1>(seams);
        pump.tick = [this] { form->Timer1Timer(); };
    }
    ~FormFixture() {
        form.reset();
        SetMessageBeepHandler({});
        SetD2xxBackend(nullptr);
    }
    // FormShow as the first showing runs it, without a window on screen.
    void Show() { form->FormShow(); }
    // START, and the run driven to its end.
    void Run() {
        form->Button3Click();
        pump.RunWhile([this] { return form->RunInProgress(); });
    }
    QString ParamFile() const { return form->ParamFilePath(); }

    QTemporaryDir folder;
    DrivenLoop pump;
    device::SimulatedUnit* sim = nullptr;
    ScriptedColorDialog colorDialog;
    int beeps = 0;
    std::unique_ptr<TForm1> form;
};

// The log pane's lines as it holds them.
inline QStringList LogLines(TForm1& form) {
    QStringList lines;
    const auto& store = form.Memo1->Store();
    for (qsizetype i = 0; i < store.LineCount(); ++i)
        lines << store.LineText(i);
    return lines;
}

} // namespace testing
