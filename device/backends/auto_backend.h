// The default way to the unit: several backends are asked in turn, and the first
// that lists a unit is used from then on.
#pragma once

#include "device/d2xx.h"

#include <memory>
#include <string>
#include <vector>

namespace device {

class AutoBackend : public D2xxBackend {
public:
    struct Candidate {
        std::string name; // for the log: its --device name ("d2xx", "tty", "ftdi")
        std::unique_ptr<D2xxBackend> backend;
    };

    // Candidates in order of preference.
    explicit AutoBackend(std::vector<Candidate> candidates);

    // FTDI's library, then the kernel's FTDI ttys, then libftdi.
    static std::unique_ptr<AutoBackend> WithRealBackends();

    // The candidate in use: empty until one has listed a unit.
    std::string ChosenName() const;

    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) override;
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) override;
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override;
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override;
    FT_STATUS SetRts(FT_HANDLE handle) override;
    FT_STATUS ClrRts(FT_HANDLE handle) override;
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override;
    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) override;
    FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) override;
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) override;
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override;
    const char* LastProblem() const override;
    std::string UnitGone(FT_HANDLE handle) const override;
    void Close(FT_HANDLE handle) override;
    // Every candidate's units, in order of preference.
    std::vector<UnitListing> Units() override;
    // Why candidates that could not look for units (a library missing, say)
    // could not, one line each; for --list-units.
    std::vector<std::string> Notes();

private:
    // Picks the first candidate that lists a unit, unless one was picked already.
    D2xxBackend* Choose();

    std::vector<Candidate> candidates_;
    Candidate* chosen_ = nullptr;
    std::string problem_;
};

} // namespace device
