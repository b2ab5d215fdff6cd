#include "device/backends/libftdi_backend.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>
#include <tuple>

namespace device {

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
constexpr int kFtdiVendor = 0x0403;
// FT232R/FT245R, FT2232, FT4232H, FT232H, FT-X: the product ids of FTDI's own chips.
constexpr std::array<int, 5> kFtdiProducts{0x6001, 0x6010, 0x6011, 0x6014, 0x6015};
constexpr std::size_t kMaxSerial = 63;
constexpr const char* kGoneFromUsb = "The FTDI unit has gone from USB";

// The chip sends what it has every latency period (2 ms once set, 16 ms by default),
// even when that is nothing, so a USB read returns within one period. The read
// time-out stays above the period: a read cut off by its time-out loses bytes.
constexpr unsigned char kLatencyMs = 2;
constexpr int kReadTimeoutMs = 10;
constexpr int kReadTimeoutDefaultLatencyMs = 20;
// How often the reply wait looks again, there being no descriptor to wait on.
constexpr int kPollMs = 4;
// Bounds the receive buffer when nobody reads (a unit that chatters unasked).
constexpr std::size_t kMaxBuffered = 64 * 1024;

std::string OpenProblem(const std::string& what, int result, const char* detail) {
    std::string text = "Could not open the FTDI unit " + what + " over USB (" + detail + ")";
    // libftdi reports a refused libusb_open as "usb_open() failed" (-4) and unreadable
    // descriptors (-8, -9) the same way a missing permission shows itself.
    if (result == -4 || result == -5 || result == -8 || result == -9 || result == -10)
        text += ": if your user may not use the USB device, install the udev rule that comes with Tavrin "
                "(tavrin-ftdi.rules, installed as 70-tavrin-ftdi.rules) and plug the unit in again; if the "
                "kernel's serial driver holds it, "
                "use --device tty instead";
    return text;
}

} // namespace

class LibFtdiBackend::OpenUnit {
public:
    explicit OpenUnit(ftdi_context* context) : context_(context) {}
    OpenUnit(const OpenUnit&) = delete;
    OpenUnit& operator=(const OpenUnit&) = delete;
    ~OpenUnit() { Close(); }

    ftdi_context* Context() const { return context_; }
    bool Gone() const { return context_ == nullptr; }
    bool Unplugged() const { return unplugged_; }
    void SetUnplugged() { unplugged_ = true; }
    std::string& Received() { return received_; }

    void Close() {
        if (context_ == nullptr)
            return;
        ::ftdi_usb_close(context_);
        ::ftdi_free(context_);
        context_ = nullptr;
    }

private:
    ftdi_context* context_;
    std::string received_;
    bool unplugged_ = false;
};

LibFtdiBackend::LibFtdiBackend() = default;
LibFtdiBackend::~LibFtdiBackend() = default;

std::vector<LibFtdiBackend::FoundUnit> LibFtdiBackend::Scan() {
    std::vector<FoundUnit> units;
    // Each scan has its own context: ftdi_new also starts libusb, which fails
    // harmlessly (nothing listed) on systems without USB access, such as containers.
    ftdi_context* context = ::ftdi_new();
    if (context == nullptr) {
        problem_ = "USB access could not be started (libusb), so no FTDI unit can be found over USB";
        return units;
    }
    std::string unreadable;
    for (const int product : kFtdiProducts) {
        ftdi_device_list* list = nullptr;
        if (::ftdi_usb_find_all(context, &list, kFtdiVendor, product) < 0) {
            problem_ = std::string("Could not list USB devices: ") + ::ftdi_get_error_string(context);
            continue;
        }
        for (ftdi_device_list* node = list; node != nullptr; node = node->next) {
            FoundUnit unit;
            unit.productId = product;
            unit.bus = ::libusb_get_bus_number(node->dev);
            unit.address = ::libusb_get_device_address(node->dev);
            char manufacturer[128] = {};
            char description[128] = {};
            char serial[kMaxSerial + 1] = {};
            if (::ftdi_usb_get_strings(context, node->dev, manufacturer, sizeof manufacturer, description,
                                       sizeof description, serial, sizeof serial) == 0 &&
                serial[0] != '\0') {
                unit.serialNumber = serial;
                unit.description = description;
                unit.serialRead = true;
            } else {
                // Listed all the same, so that opening it explains what stands in the way.
                unit.serialNumber = "USB " + std::to_string(unsigned(unit.bus)) + "-" +
                                    std::to_string(unsigned(unit.address));
            }
            units.push_back(std::move(unit));
        }
        ::ftdi_list_free(&list);
    }
    ::ftdi_free(context);
    std::sort(units.begin(), units.end(), [](const FoundUnit& a, const FoundUnit& b) {
        return std::tie(a.serialNumber, a.bus, a.address) < std::tie(b.serialNumber, b.bus, b.address);
    });
    return units;
}

FT_STATUS LibFtdiBackend::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListFlags || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    problem_.clear();
    const std::vector<FoundUnit> units = Scan();
    if (index >= units.size()) {
        if (units.empty() && problem_.empty())
            problem_ = "No FTDI unit found on USB: is it plugged in?";
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string& serial = units[index].serialNumber;
    std::memcpy(serialNumber, serial.c_str(), serial.size() + 1);
    return FT_OK;
}

FT_STATUS LibFtdiBackend::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || serialNumber == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    problem_.clear();
    const std::vector<FoundUnit> units = Scan();
    const auto found = std::find_if(units.begin(), units.end(),
                                    [&](const FoundUnit& u) { return u.serialNumber == serialNumber; });
    if (found == units.end()) {
        problem_ = std::string("No FTDI unit with serial number ") + serialNumber + " on USB";
        return FT_DEVICE_NOT_FOUND;
    }
    ftdi_context* context = ::ftdi_new();
    if (context == nullptr) {
        problem_ = "USB access could not be started (libusb)";
        return FT_DEVICE_NOT_OPENED;
    }
    const int result = found->serialRead ? ::ftdi_usb_open_desc(context, kFtdiVendor, found->productId,
                                                                nullptr, found->serialNumber.c_str())
                                         : ::ftdi_usb_open_bus_addr(context, found->bus, found->address);
    if (result < 0) {
        problem_ = OpenProblem(found->serialNumber, result, ::ftdi_get_error_string(context));
        ::ftdi_free(context);
        return FT_DEVICE_NOT_OPENED;
    }
    const bool lowLatency = ::ftdi_set_latency_timer(context, kLatencyMs) == 0;
    context->usb_read_timeout = lowLatency ? kReadTimeoutMs : kReadTimeoutDefaultLatencyMs;
    *handle = open_.Add(std::make_unique<OpenUnit>(context));
    return FT_OK;
}

LibFtdiBackend::OpenUnit* LibFtdiBackend::Live(FT_HANDLE handle, FT_STATUS& status) const {
    OpenUnit* unit = open_.Find(handle);
    if (unit == nullptr)
        status = FT_INVALID_HANDLE;
    else if (unit->Gone())
        status = FT_IO_ERROR;
    else
        return unit;
    return nullptr;
}

FT_STATUS LibFtdiBackend::Failed(OpenUnit& unit, int result) {
    // Unplugged: libusb answers every later transfer the same way, so let go now.
    if (result == LIBUSB_ERROR_NO_DEVICE || result == -666) {
        problem_ = kGoneFromUsb;
        unit.SetUnplugged();
        unit.Close();
    }
    return FT_IO_ERROR;
}

FT_STATUS LibFtdiBackend::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    if (baud == 0 || baud > 12'000'000)
        return FT_INVALID_PARAMETER;
    const int result = ::ftdi_set_baudrate(unit->Context(), int(baud));
    return result == 0 ? FT_OK : result == -1 ? FT_INVALID_PARAMETER : Failed(*unit, result);
}

FT_STATUS LibFtdiBackend::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                 UCHAR parity) {
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    // D2XX numbers: 7 or 8 bits; stop bits 0 = 1, 1 = 1.5, 2 = 2; parity none,
    // odd, even, mark, space, which is libftdi's order too.
    if ((wordLength != 7 && wordLength != 8) || stopBits > 2 || parity > 4)
        return FT_INVALID_PARAMETER;
    static constexpr ftdi_stopbits_type kStop[] = {STOP_BIT_1, STOP_BIT_15, STOP_BIT_2};
    static constexpr ftdi_parity_type kParity[] = {NONE, ODD, EVEN, MARK, SPACE};
    const int result = ::ftdi_set_line_property(unit->Context(), wordLength == 8 ? BITS_8 : BITS_7,
                                                kStop[stopBits], kParity[parity]);
    return result == 0 ? FT_OK : Failed(*unit, result);
}

FT_STATUS LibFtdiBackend::SetRts(FT_HANDLE handle) {
    return SetRtsLevel(handle, 1);
}

FT_STATUS LibFtdiBackend::ClrRts(FT_HANDLE handle) {
    return SetRtsLevel(handle, 0);
}

FT_STATUS LibFtdiBackend::SetRtsLevel(FT_HANDLE handle, int level) {
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    const int result = ::ftdi_setrts(unit->Context(), level);
    return result == 0 ? FT_OK : Failed(*unit, result);
}

FT_STATUS LibFtdiBackend::Purge(FT_HANDLE handle, ULONG mask) {
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    int result = 0;
    if (mask & FT_PURGE_RX) {
        unit->Received().clear();
        result = ::ftdi_tciflush(unit->Context());
    }
    if (result == 0 && (mask & FT_PURGE_TX))
        result = ::ftdi_tcoflush(unit->Context());
    return result == 0 ? FT_OK : Failed(*unit, result);
}

FT_STATUS LibFtdiBackend::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (written)
        *written = 0;
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    if (buffer == nullptr && count > 0)
        return FT_INVALID_PARAMETER;
    if (count == 0)
        return FT_OK;
    const int result =
        ::ftdi_write_data(unit->Context(), static_cast<const unsigned char*>(buffer), int(count));
    if (result < 0)
        return Failed(*unit, result);
    if (written)
        *written = DWORD(result);
    return FT_OK;
}

FT_STATUS LibFtdiBackend::Fill(OpenUnit& unit) {
    unsigned char chunk[512];
    while (unit.Received().size() < kMaxBuffered) {
        const int result = ::ftdi_read_data(unit.Context(), chunk, int(sizeof chunk));
        if (result == LIBUSB_ERROR_TIMEOUT)
            return FT_OK; // nothing came within the time-out: nothing queued
        if (result < 0)
            return Failed(unit, result);
        unit.Received().append(reinterpret_cast<const char*>(chunk), std::size_t(result));
        if (result < int(sizeof chunk))
            return FT_OK;
    }
    return FT_OK;
}

FT_STATUS LibFtdiBackend::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) {
    if (rxQueue)
        *rxQueue = 0;
    if (txQueue)
        *txQueue = 0;
    if (eventStatus)
        *eventStatus = 0;
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    status = Fill(*unit);
    if (rxQueue)
        *rxQueue = DWORD(unit->Received().size());
    return status;
}

FT_STATUS LibFtdiBackend::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    if (bytesRead)
        *bytesRead = 0;
    FT_STATUS status = FT_OK;
    OpenUnit* unit = Live(handle, status);
    if (unit == nullptr)
        return status;
    if (buffer == nullptr && count > 0)
        return FT_INVALID_PARAMETER;
    if (unit->Received().size() < count)
        status = Fill(*unit);
    std::string& received = unit->Received();
    const std::size_t n = std::min<std::size_t>(count, received.size());
    std::memcpy(buffer, received.data(), n);
    received.erase(0, n);
    if (bytesRead)
        *bytesRead = DWORD(n);
    return n > 0 ? FT_OK : status;
}

std::string LibFtdiBackend::UnitGone(FT_HANDLE handle) const {
    const OpenUnit* unit = open_.Find(handle);
    if (unit == nullptr || (unit->Gone() && !unit->Unplugged()))
        return kNoUnitOpen;
    return unit->Unplugged() ? kGoneFromUsb : std::string();
}

void LibFtdiBackend::Close(FT_HANDLE handle) {
    if (OpenUnit* unit = open_.Find(handle))
        unit->Close();
}

std::vector<UnitListing> LibFtdiBackend::Units() {
    std::vector<UnitListing> units;
    for (const FoundUnit& found : Scan()) {
        UnitListing unit{"ftdi", found.serialNumber, found.description,
                         "USB bus " + std::to_string(unsigned(found.bus)) + " device " +
                             std::to_string(unsigned(found.address)),
                         found.serialRead, {}};
        if (!found.serialRead)
            unit.whyNot = "its USB descriptors cannot be read: install the udev rule that comes with Tavrin "
                          "(tavrin-ftdi.rules, installed as 70-tavrin-ftdi.rules) and plug the unit in again";
        units.push_back(std::move(unit));
    }
    return units;
}

DataWakeup LibFtdiBackend::Wakeup(FT_HANDLE handle, DWORD) {
    FT_STATUS status = FT_OK;
    return Live(handle, status) ? DataWakeup{-1, kPollMs} : DataWakeup{};
}

} // namespace device
