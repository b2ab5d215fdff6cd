// A pseudo-terminal for tests that play the unit on its master side.
#pragma once

#include "device/d2xx.h"

#include <QByteArray>
#include <string>

class PtyPair {
public:
    PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    ~PtyPair();

    bool Valid() const { return master_ >= 0; }
    const std::string& Path() const { return path_; }
    int Master() const { return master_; }

    // What the logger side wrote, waiting (bounded) until `count` bytes have come.
    QByteArray ReadMaster(int count, int timeoutMs = 5000);
    bool WriteMaster(const QByteArray& bytes);
    void CloseMaster();

private:
    int master_ = -1;
    std::string path_;
};

// Waits (bounded, on the backend's wakeup descriptor) until more than `moreThan`
// bytes are queued; returns the last count seen.
DWORD WaitForQueued(device::CheckedD2xx& backend, FT_HANDLE handle, DWORD moreThan, int timeoutMs = 5000);
