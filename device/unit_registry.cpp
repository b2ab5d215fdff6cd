#include "device/unit_registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {

namespace {

constexpr std::size_t kMaxSerial = 63;

bool UsableSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > kMaxSerial || serial[0] == '.')
        return false;
    return std::all_of(serial.begin(), serial.end(),
                       [](unsigned char c) { return c > 0x20 && c < 0x7F && c != '/'; });
}

// Ours alone: a folder owned by this user that nobody else may write into.
bool OwnFolder(const std::string& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string LinkTarget(const std::string& link) {
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

} // namespace

std::string UnitRegistryFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/tavrin-units";
    return "/tmp/tavrin-units-" + std::to_string(::getuid());
}

std::vector<RegisteredUnit> RegisteredUnits(const std::string& folder) {
    std::vector<RegisteredUnit> units;
    if (!OwnFolder(folder))
        return units;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return units;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string serial = entry->d_name;
        if (!UsableSerial(serial) || serial.find(".new-") != std::string::npos)
            continue;
        const std::string target = LinkTarget(folder + "/" + serial);
        struct stat info {};
        // A link left behind by an emulator that was killed leads nowhere.
        if (target.empty() || ::stat(target.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
            continue;
        units.push_back({serial, target});
    }
    ::closedir(dir);
    std::sort(units.begin(), units.end(), [](const RegisteredUnit& a, const RegisteredUnit& b) {
        return a.serialNumber < b.serialNumber;
    });
    return units;
}

std::string RegisterUnit(const std::string& serialNumber, const std::string& devicePath,
                         const std::string& folder) {
    if (!UsableSerial(serialNumber))
        return "\"" + serialNumber +
               "\" cannot be a serial number: up to 63 printable characters, no spaces or /";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot make " + folder + ": " + std::strerror(errno);
    if (!OwnFolder(folder))
        return folder + " is not a folder of this user's own that nobody else may write into";
    return PointLink(folder + "/" + serialNumber, devicePath);
}

void UnregisterUnit(const std::string& serialNumber, const std::string& devicePath,
                    const std::string& folder) {
    if (!UsableSerial(serialNumber) || !OwnFolder(folder))
        return;
    const std::string link = folder + "/" + serialNumber;
    if (LinkTarget(link) == devicePath)
        ::unlink(link.c_str());
}

std::string PointLink(const std::string& link, const std::string& target) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
        return link + " exists and is no link: it is left alone";
    const std::string fresh = link + ".new-" + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0)
        return "cannot make the link " + link + ": " + std::strerror(errno);
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        return "cannot make the link " + link + ": " + std::strerror(error);
    }
    return {};
}

} // namespace device
