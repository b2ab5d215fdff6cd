// An in-process stand-in for the unit, a way to it like the real backends: it
// lists as device 0, accepts the settings calls and answers every request after
// the wire time of its reply, with the fault knobs of UnitFaults.
#pragma once

#include "device/port.h"
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

// What the settings calls last set, as the unit's chip holds them.
struct SimulatedLine {
    ULONG baud = 0; // 0: not set since the unit was plugged in
    UCHAR wordLength = 0;
    UCHAR stopBits = 0;
    UCHAR parity = 0;
};

class SimulatedUnit : public Backend {
public:
    using Clock = std::function<std::chrono::microseconds()>;

    explicit SimulatedUnit(SimulatedUnitOptions options = {}, Clock clock = {});
    ~SimulatedUnit() override;

    UnitKind Kind() const override { return UnitKind::Simulated; }
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    std::vector<UnitListing> Units() override;

    static constexpr const char* kUnpluggedReason = "the simulated unit was unplugged";

    // Test hooks.
    UnitFaults& Faults() { return model_.Faults(); }
    // The unit goes away: its handle fails from now on.
    void Unplug();
    // A unit is plugged in again: the same one, or one with `serialNumber`. It has
    // to be opened again; bytes that were on their way when it went are lost, and
    // its chip has forgotten the line settings.
    void PlugIn(const std::string& serialNumber = {});
    unsigned Requests() const { return requests_; }
    // The requests' send times, by the unit's clock.
    const std::vector<std::chrono::microseconds>& RequestTimes() const { return requestTimes_; }
    ULONG BaudRate() const { return line_.baud; }
    const SimulatedLine& Line() const { return line_; }
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
    class OpenUnit;
    struct Piece {
        std::chrono::microseconds due;
        std::string bytes;
    };
    // Takes written bytes: each request they complete sends its reply on its way.
    void Take(const void* bytes, DWORD count);
    void Deliver();

    SimulatedUnitOptions options_;
    UnitModel model_;
    Clock clock_;
    RequestScanner scanner_;
    std::deque<Piece> inFlight_;
    std::string rx_;
    std::vector<std::chrono::microseconds> requestTimes_;
    unsigned requests_ = 0;
    bool open_ = false;   // opened since it was plugged in
    bool closed_ = false; // let go since it was opened
    bool lost_ = false;   // unplugged while open, and not opened since
    bool unplugged_ = false;
    bool rts_ = false;
    int rtsPulses_ = 0;
    SimulatedLine line_;
    ULONG lastPurge_ = 0;
    std::function<void(std::string_view)> readObserver_;
};

} // namespace device
