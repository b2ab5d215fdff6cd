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

SimulatedUnit::SimulatedUnit(SimulatedUnitOptions options, Clock clock)
    : options_(std::move(options)), model_(options_.faults), clock_(clock ? std::move(clock) : SteadyNow) {}

FT_STATUS SimulatedUnit::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    if (!options_.listed || unplugged_ || index != 0)
        return FT_DEVICE_NOT_FOUND;
    const std::size_t n = std::min<std::size_t>(options_.serialNumber.size(), 63);
    std::memcpy(serialNumber, options_.serialNumber.data(), n);
    serialNumber[n] = '\0';
    return FT_OK;
}

FT_STATUS SimulatedUnit::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || serialNumber == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    if (!options_.listed || unplugged_ || options_.serialNumber != serialNumber)
        return FT_DEVICE_NOT_FOUND;
    if (options_.openRefused)
        return FT_DEVICE_NOT_OPENED;
    open_ = true;
    closed_ = false;
    lost_ = false;
    *handle = this;
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
    // What was on its way when it went is lost with it.
    inFlight_.clear();
    rx_.clear();
    if (!serialNumber.empty())
        options_.serialNumber = serialNumber;
}

std::string SimulatedUnit::UnitGone(FT_HANDLE handle) const {
    if (handle != this)
        return kNoUnitOpen;
    if (lost_)
        return kUnpluggedReason;
    return !open_ || closed_ ? kNoUnitOpen : std::string();
}

void SimulatedUnit::Close(FT_HANDLE handle) {
    if (handle == this && open_)
        closed_ = true;
}

std::vector<UnitListing> SimulatedUnit::Units() {
    if (!options_.listed || unplugged_)
        return {};
    return {{"sim", options_.serialNumber.substr(0, 63), "simulated unit", "built in", true, {}}};
}

FT_STATUS SimulatedUnit::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    baud_ = baud;
    return FT_OK;
}

FT_STATUS SimulatedUnit::SetDataCharacteristics(FT_HANDLE handle, UCHAR, UCHAR, UCHAR) {
    return IsOpen(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS SimulatedUnit::SetRts(FT_HANDLE handle) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    rts_ = true;
    return FT_OK;
}

FT_STATUS SimulatedUnit::ClrRts(FT_HANDLE handle) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    if (rts_)
        ++rtsPulses_;
    rts_ = false;
    return FT_OK;
}

FT_STATUS SimulatedUnit::Purge(FT_HANDLE handle, ULONG mask) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    lastPurge_ = mask;
    if (mask & FT_PURGE_RX)
        rx_.clear();
    return FT_OK;
}

FT_STATUS SimulatedUnit::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    const int complete = scanner_.Feed(buffer, count);
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
    if (written)
        *written = count;
    return FT_OK;
}

void SimulatedUnit::Deliver() {
    const auto now = clock_();
    while (!inFlight_.empty() && inFlight_.front().due <= now) {
        rx_ += inFlight_.front().bytes;
        inFlight_.pop_front();
    }
}

FT_STATUS SimulatedUnit::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    Deliver();
    if (rxQueue)
        *rxQueue = DWORD(rx_.size());
    if (txQueue)
        *txQueue = 0;
    if (eventStatus)
        *eventStatus = 0;
    return FT_OK;
}

FT_STATUS SimulatedUnit::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    if (!IsOpen(handle))
        return FT_INVALID_HANDLE;
    Deliver();
    const std::size_t n = std::min<std::size_t>(count, rx_.size());
    std::memcpy(buffer, rx_.data(), n);
    if (readObserver_)
        readObserver_(std::string_view(rx_.data(), n));
    rx_.erase(0, n);
    if (bytesRead)
        *bytesRead = DWORD(n);
    return FT_OK;
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

DataWakeup SimulatedUnit::Wakeup(FT_HANDLE handle, DWORD) {
    if (!IsOpen(handle) || inFlight_.empty())
        return {};
    const auto wait = inFlight_.front().due - clock_();
    return {-1, int(std::max<std::int64_t>(0, (wait.count() + 999) / 1000))};
}

} // namespace device
