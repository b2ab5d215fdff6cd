// Where the parameter file lives.
#pragma once

#include "report/failure.h"

#include <QString>

namespace settings {

// The logger's folder in the user's configuration home, by the XDG rule: $XDG_CONFIG_HOME/tavrin
// when that variable holds an absolute path (a relative one is ignored), else <home>/.config/tavrin,
// with home $HOME when it is an absolute path, else the user's entry in the password database.
// Nothing is made. Fails only when no home can be found.
report::Result<QString> UserConfigFolder();

// Beside the executable when the user can write that folder and it lies outside /usr and /opt
// (a portable copy); otherwise, for an installed program, the user's configuration folder,
// created if missing, so that each user keeps settings of their own.
QString ChooseParameterFolder(const QString& exeDir, const QString& configDir);

// The folder for the running program: ChooseParameterFolder on the executable's folder and
// UserConfigFolder(). Needs the application object. Fails when the program is installed and the
// user has no home.
report::Result<QString> DefaultParameterFolder();

// The parameter file's path for the running application (DefaultParameterFolder), or empty.
QString DefaultParameterFilePath();

// For --help: the parameter file the program would use, or why there is none; nothing is made.
QString ParameterFileInUse();

} // namespace settings
