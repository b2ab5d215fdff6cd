#include "device/backends/tty_open_problem.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>

namespace device {

namespace {

// The group that may open the port: Debian gives serial ports to "dialout".
std::string PortGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        if (const group* g = ::getgrgid(info.st_gid); g != nullptr && g->gr_gid != 0)
            return g->gr_name;
    return "dialout";
}

} // namespace

std::string TtyOpenProblem(const std::string& path, int errorNumber) {
    switch (errorNumber) {
    case EACCES:
    case EPERM: {
        const std::string group = PortGroup(path);
        return "Permission denied on " + path + ": add your user to the '" + group +
               "' group (sudo usermod -aG " + group +
               " $USER, then log in again) or install the udev rule that comes with Tavrin "
               "(tavrin-ftdi.rules, installed as 70-tavrin-ftdi.rules) and plug the unit in again";
    }
    case EBUSY:
        return path + " is in use by another program: close that program (a terminal program, or another "
                      "Tavrin) and start again";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return path + " is not there: is the unit plugged in?";
    default:
        return "Could not open " + path + ": " + std::strerror(errorNumber);
    }
}

std::string NotATerminalProblem(const std::string& path) {
    return path + " is not a serial port";
}

} // namespace device
