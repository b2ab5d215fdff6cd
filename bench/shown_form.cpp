#include "bench/shown_form.h"

#include <QCoreApplication>
#include <QLabel>
#include <stdexcept>

namespace bench {

ShownForm::ShownForm(std::unique_ptr<device::Backend> unit, const ShownFormOptions& options)
    : settings_(options.settings) {
    SetD2xxBackend(std::move(unit));
    FormSeams seams;
    seams.tickMs = options.tickMs;
    seams.runTimer = options.runTimer;
    seams.parameterFolder = settings_.Path();
    seams.errorsToStandardError = true;
    form_ = std::make_unique<TForm1>(seams);
    Form1 = form_.get();

    bool shown = false;
    QObject::connect(form_.get(), &TForm1::Shown, form_.get(), [&shown] { shown = true; });
    form_->show();
    while (!shown)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (form_->Unit().Handle() == nullptr || form_->Unit().Status() != FT_OK)
        throw std::runtime_error("the unit did not open: " + form_->Label3->text().toStdString());
}

ShownForm::~ShownForm() {
    form_.reset();
    SetD2xxBackend(nullptr);
}

} // namespace bench
