// Folder and file permissions do not bind a privileged user, so test cases that depend on them
// run as an ordinary user while this object lives.
#pragma once

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace settings {

class UnprivilegedUser {
public:
    UnprivilegedUser() {
        if (::geteuid() != 0)
            return;
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody != nullptr ? nobody->pw_uid : kFallbackUid;
        // The saved user stays privileged so that the destructor can switch back.
        dropped_ = ::setresuid(uid, uid, 0) == 0;
    }
    ~UnprivilegedUser() {
        if (dropped_)
            static_cast<void>(::setresuid(0, 0, 0));
    }
    UnprivilegedUser(const UnprivilegedUser&) = delete;
    UnprivilegedUser& operator=(const UnprivilegedUser&) = delete;

    // False when permissions would still be ignored, so the case cannot show anything.
    bool PermissionsBind() const { return ::geteuid() != 0; }

private:
    static constexpr uid_t kFallbackUid = 65534;
    bool dropped_ = false;
};

} // namespace settings
