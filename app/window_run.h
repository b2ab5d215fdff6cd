// The program with its window: the form, its run and, with --exit-after-run,
// the exit status of that run.
#pragma once

#include "app/command_line.h"
#include "settings/app_settings.h"

#include <QString>

class QApplication;

namespace app {

// The settings beside the parameter file, with the folder they live in (empty when there is no
// home); the window's language is chosen with them.
struct Kept {
    QString folder;
    settings::AppSettingsLoad load;
};

// What the window and the viewer do first with their QApplication: the fonts, the kept settings, the
// window's language.
Kept StartWindowSystem(QApplication& app, const Options& options);

int RunWindow(int& argc, char** argv, const Options& options);

} // namespace app
