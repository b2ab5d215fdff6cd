#include "bench/display_server.h"

#include "bench/first_line.h"

#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace bench {

DisplayServer::DisplayServer(const std::string& scratchFolder) {
    const std::string xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb")).toStdString();
    if (xvfb.empty())
        throw std::runtime_error("Xvfb is not installed (Debian package xvfb)");
    const std::string output = scratchFolder + "/xvfb.out";
    // -displayfd: the server picks a free display and writes its number on standard output.
    server_ = std::make_unique<ChildProcess>(
        xvfb, std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        output);
    const auto number = AwaitLine(*server_, output, [](const std::string& line) {
        return !line.empty() &&
               std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isdigit(c); });
    });
    if (!number)
        throw std::runtime_error("Xvfb did not start:\n" + server_->OutputTail());
    display_ = ":" + *number;
}

} // namespace bench
