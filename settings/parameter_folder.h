// Where the parameter file lives.
#pragma once

#include <QString>

namespace settings {

// Beside the executable when the user can write that folder and it lies outside /usr and /opt
// (a portable copy); otherwise, for an installed program, the user's configuration folder,
// created if missing, so that each user keeps settings of their own.
QString ChooseParameterFolder(const QString& exeDir, const QString& configDir);

// The parameter file's path for the running application: ChooseParameterFolder on the
// executable's folder and the application's configuration folder. Needs the application
// object, with its organisation and application names set.
QString DefaultParameterFilePath();

} // namespace settings
