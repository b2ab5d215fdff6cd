#include "bench/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           std::string outputFile, const std::string& workingFolder)
    : outputFile_(std::move(outputFile)) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    pidFd_ = int(syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
    if (!exitStatus_)
        Kill();
    if (pidFd_ >= 0)
        close(pidFd_);
}

bool ChildProcess::Reap(bool block) {
    int waitStatus = 0;
    rusage usage{};
    if (wait4(pid_, &waitStatus, block ? 0 : WNOHANG, &usage) != pid_)
        return false;
    exitStatus_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
    peakRssKib_ = usage.ru_maxrss;
    return true;
}

bool ChildProcess::Running() {
    if (exitStatus_)
        return false;
    Reap(false);
    return !exitStatus_;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
    if (exitStatus_)
        return exitStatus_;
    if (pidFd_ >= 0) {
        pollfd p{pidFd_, POLLIN, 0};
        int ready = 0;
        do
            ready = poll(&p, 1, int(limit.count()));
        while (ready < 0 && errno == EINTR);
        if (ready == 0)
            return std::nullopt;
    } else {
        // No process descriptors (a kernel before 5.3): look every millisecond.
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Running() && std::chrono::steady_clock::now() < end)
            usleep(1000);
        return exitStatus_;
    }
    Reap(true);
    return exitStatus_;
}

void ChildProcess::Kill() {
    if (exitStatus_ || pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    Reap(true);
}

std::string ChildProcess::OutputTail(std::size_t maxBytes) const {
    std::ifstream file(outputFile_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return text.size() > maxBytes ? text.substr(text.size() - maxBytes) : text;
}

} // namespace bench
