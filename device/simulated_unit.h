// An in-process stand-in for the unit, behind the same D2XX calls as the real
// backends: it lists as device 0, accepts the settings calls and answers every
// request after the wire time of its reply, with the fault knobs of UnitFaults.
#pragma once

#include "device/d2xx.h"
#include "device/unit_model.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace device {

struct SimulatedUnitOptions {
    std::string serialNumber = "SIM00001";
    bool listed = true;       // false: no device in the list
    bool openRefused = false; // listed, but FT_OpenEx fails
    UnitFaults faults;
};

class SimulatedUnit : public D2xxBackend {
public:
    using Clock = std::function<std::chrono::microseconds()>;

    explicit SimulatedUnit(SimulatedUnitOptions options = {}, Clock clock = {});

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
    std::string UnitGone(FT_HANDLE handle) const override;
    void Close(FT_HANDLE handle) override;
    std::vector<UnitListing> Units() override;

    static constexpr const char* kUnpluggedReason = "the simulated unit was unplugged";

    // Test hooks.
    UnitFaults& Faults() { return model_.Faults(); }
    // The unit goes away: its handle fails from now on.
    void Unplug();
    // A unit is plugged in again: the same one, or one with `serialNumber`. It has
    // to be opened again; bytes that were on their way when it went are lost.
    void PlugIn(const std::string& serialNumber = {});
    unsigned Requests() const { return requests_; }
    // The requests' send times, by the unit's clock.
    const std::vector<std::chrono::microseconds>& RequestTimes() const { return requestTimes_; }
    ULONG BaudRate() const { return baud_; }
    int RtsPulses() const { return rtsPulses_; }
    ULONG LastPurgeMask() const { return lastPurge_; }
    // Queues bytes as if the unit had sent them unasked.
    void Inject(const std::string& bytes) { rx_.append(bytes); }
    // Sends bytes unasked: they arrive `delay` from now, but never ahead of bytes
    // already on their way.
    void InjectAfter(std::chrono::microseconds delay, std::string bytes);
    bool Unplugged() const { return unplugged_; }
    // Bytes that have arrived and wait to be read, as the last status query or read left them.
    std::size_t ReceiveQueueSize() const { return rx_.size(); }
    // Bytes sent but not yet arrived.
    std::size_t BytesOnTheWay() const;
    // Called with what every successful read hands over, in order, before it returns.
    void SetReadObserver(std::function<void(std::string_view bytes)> observer) {
        readObserver_ = std::move(observer);
    }

private:
    struct Piece {
        std::chrono::microseconds due;
        std::string bytes;
    };
    bool IsOpen(FT_HANDLE handle) const { return handle == this && open_ && !closed_ && !unplugged_; }
    void Deliver();

    SimulatedUnitOptions options_;
    UnitModel model_;
    Clock clock_;
    RequestScanner scanner_;
    std::deque<Piece> inFlight_;
    std::string rx_;
    std::vector<std::chrono::microseconds> requestTimes_;
    unsigned requests_ = 0;
    bool open_ = false;
    bool closed_ = false; // let go since it was opened
    bool lost_ = false;   // unplugged while open, and not opened since
    bool unplugged_ = false;
    bool rts_ = false;
    int rtsPulses_ = 0;
    ULONG baud_ = 0;
    ULONG lastPurge_ = 0;
    std::function<void(std::string_view)> readObserver_;
};

} // namespace device
