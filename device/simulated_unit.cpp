#include "device/simulated_unit.h"

#include <algorithm>
#include <cstring>

namespace device {

namespace {
std::chrono::microseconds SteadyNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}
} // namespace

// A handle on the unit. Like the unit's one handle, every handle it gave reaches
// it while it is open, not let go and plugged in.
class SimulatedUnit::OpenUnit : public Port {
public:
    explicit OpenUnit(SimulatedUnit& unit) : unit_(unit) {}

    FT_STATUS Usable() const override {
        return unit_.open_ && !unit_.closed_ && !unit_.unplugged_ ? FT_OK : FT_INVALID_HANDLE;
    }
    std::string Gone() const override {
        if (unit_.lost_)
            return kUnpluggedReason;
        return Usable() == FT_OK ? std::string() : std::string(kNoUnitOpen);
    }
    void Close() override {
        if (unit_.open_)
            unit_.closed_ = true;
    }

    FT_STATUS SetBaudRate(ULONG baud) override {
        unit_.line_.baud = baud;
        return FT_OK;
    }
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override {
        unit_.line_.wordLength = wordLength;
        unit_.line_.stopBits = stopBits;
        unit_.line_.parity = parity;
        return FT_OK;
    }
    FT_STATUS SetRts(bool high) override {
        if (!high && unit_.rts_)
            ++unit_.rtsPulses_;
        unit_.rts_ = high;
        return FT_OK;
    }
    FT_STATUS Purge(ULONG mask) override {
        unit_.lastPurge_ = mask;
        if (mask & FT_PURGE_RX)
            unit_.rx_.clear();
        return FT_OK;
    }
    FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) override {
        unit_.Take(bytes, count);
        written = count;
        return FT_OK;
    }
    FT_STATUS Queued(QueueCounts& counts) override {
        unit_.Deliver();
        counts.rx = DWORD(unit_.rx_.size());
        return FT_OK;
    }
    FT_STATUS Read(void* bytes, DWORD count, DWORD& got) override {
        unit_.Deliver();
        std::string& rx = unit_.rx_;
        const std::size_t n = std::min<std::size_t>(count, rx.size());
        if (n > 0)
            std::memcpy(bytes, rx.data(), n);
        if (unit_.readObserver_)
            unit_.readObserver_(std::string_view(rx.data(), n));
        rx.erase(0, n);
        got = DWORD(n);
        return FT_OK;
    }
    DataWakeup Wakeup(DWORD) override {
        if (unit_.inFlight_.empty())
            return {};
        const auto wait = unit_.inFlight_.front().due - unit_.clock_();
        return {-1, int(std::max<std::int64_t>(0, (wait.count() + 999) / 1000))};
    }

private:
    SimulatedUnit& unit_;
};

SimulatedUnit::SimulatedUnit(SimulatedUnitOptions options, Clock clock)
    : options_(std::move(options)), model_(options_.faults), clock_(clock ? std::move(clock) : SteadyNow) {}

SimulatedUnit::~SimulatedUnit() = default;

FT_STATUS SimulatedUnit::List(DWORD index, std::string& serialNumber) {
    if (!options_.listed || unplugged_ || index != 0)
        return FT_DEVICE_NOT_FOUND;
    serialNumber = options_.serialNumber.substr(0, kSerialNumberSize - 1);
    return FT_OK;
}

FT_STATUS SimulatedUnit::Open(const std::string& serialNumber, std::unique_ptr<Port>& port) {
    if (!options_.listed || unplugged_ || options_.serialNumber != serialNumber)
        return FT_DEVICE_NOT_FOUND;
    if (options_.openRefused)
        return FT_DEVICE_NOT_OPENED;
    open_ = true;
    closed_ = false;
    lost_ = false;
    port = std::make_unique<OpenUnit>(*this);
    return FT_OK;
}

void SimulatedUnit::Unplug() {
    unplugged_ = true;
    lost_ = open_ && !closed_;
}

void SimulatedUnit::PlugIn(const std::string& serialNumber) {
    if (!unplugged_)
        return;
    unplugged_ = false;
    open_ = false;
    // What was on its way when it went is lost with it, and the chip starts afresh.
    inFlight_.clear();
    rx_.clear();
    line_ = {};
    if (!serialNumber.empty())
        options_.serialNumber = serialNumber;
}

std::vector<UnitListing> SimulatedUnit::Units() {
    if (!options_.listed || unplugged_)
        return {};
    return {{"sim",
             options_.serialNumber.substr(0, kSerialNumberSize - 1),
             "simulated unit",
             "built in",
             true,
             {}}};
}

void SimulatedUnit::Take(const void* bytes, DWORD count) {
    const int complete = scanner_.Feed(bytes, count);
    const auto now = clock_();
    for (int i = 0; i < complete; ++i) {
        requestTimes_.push_back(now);
        std::vector<ReplyPiece> pieces = model_.PiecesFor(requests_++);
        if (pieces.empty())
            continue;
        // Replies leave one after another: a reply never overtakes the one before it.
        const auto start = inFlight_.empty() ? now : std::max(now, inFlight_.back().due);
        for (ReplyPiece& piece : pieces)
            inFlight_.push_back({start + std::chrono::microseconds(piece.dueUs), std::move(piece.bytes)});
    }
}

void SimulatedUnit::Deliver() {
    const auto now = clock_();
    while (!inFlight_.empty() && inFlight_.front().due <= now) {
        rx_ += inFlight_.front().bytes;
        inFlight_.pop_front();
    }
}

void SimulatedUnit::InjectAfter(std::chrono::microseconds delay, std::string bytes) {
    auto due = clock_() + delay;
    if (!inFlight_.empty())
        due = std::max(due, inFlight_.back().due);
    inFlight_.push_back({due, std::move(bytes)});
}

std::size_t SimulatedUnit::BytesOnTheWay() const {
    std::size_t bytes = 0;
    for (const Piece& piece : inFlight_)
        bytes += piece.bytes.size();
    return bytes;
}

} // namespace device
