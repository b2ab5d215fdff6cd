// Where the parameter file lives.
#pragma once

#include <QString>

namespace settings {

// Beside the executable when that folder already holds the parameter file or can take it (a
// portable copy); otherwise the user's configuration folder, created if missing, so that a
// copy installed read-only still keeps its settings.
QString ChooseParameterFolder(const QString& exeDir, const QString& configDir);

// The parameter file's path for the running application: ChooseParameterFolder on the
// executable's folder and the application's configuration folder. Needs the application
// object, with its organisation and application names set.
QString DefaultParameterFilePath();

} // namespace settings
