#include "device/backends/libftdi_backend.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>
#include <tuple>

namespace device {

namespace {

constexpr int kFtdiVendor = 0x0403;
// FT232R/FT245R, FT2232, FT4232H, FT232H, FT-X: the product ids of FTDI's own chips.
constexpr std::array<int, 5> kFtdiProducts{0x6001, 0x6010, 0x6011, 0x6014, 0x6015};
constexpr std::size_t kMaxSerial = kSerialNumberSize - 1;
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

// The chip over USB. Let go at once when it is unplugged, as libusb answers every
// later transfer the same way; it then fails every call with FT_IO_ERROR.
class FtdiPort : public Port {
public:
    explicit FtdiPort(ftdi_context* context) : context_(context) {}
    FtdiPort(const FtdiPort&) = delete;
    FtdiPort& operator=(const FtdiPort&) = delete;
    ~FtdiPort() override { Close(); }

    FT_STATUS Usable() const override { return context_ == nullptr ? FT_IO_ERROR : FT_OK; }
    std::string Gone() const override {
        return unplugged_ ? kGoneFromUsb : context_ == nullptr ? kNoUnitOpen : std::string();
    }
    void Close() override {
        if (context_ == nullptr)
            return;
        ::ftdi_usb_close(context_);
        ::ftdi_free(context_);
        context_ = nullptr;
    }

    FT_STATUS SetBaudRate(ULONG baud) override {
        if (baud == 0 || baud > 12'000'000)
            return FT_INVALID_PARAMETER;
        const int result = ::ftdi_set_baudrate(context_, int(baud));
        return result == -1 ? FT_INVALID_PARAMETER : Checked(result);
    }
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override {
        // D2XX numbers: 7 or 8 bits; stop bits 0 = 1, 1 = 1.5, 2 = 2; parity none,
        // odd, even, mark, space, which is libftdi's order too.
        if ((wordLength != 7 && wordLength != 8) || stopBits > 2 || parity > 4)
            return FT_INVALID_PARAMETER;
        static constexpr ftdi_stopbits_type kStop[] = {STOP_BIT_1, STOP_BIT_15, STOP_BIT_2};
        static constexpr ftdi_parity_type kParity[] = {NONE, ODD, EVEN, MARK, SPACE};
        return Checked(::ftdi_set_line_property(context_, wordLength == 8 ? BITS_8 : BITS_7, kStop[stopBits],
                                                kParity[parity]));
    }
    FT_STATUS SetRts(bool high) override { return Checked(::ftdi_setrts(context_, high ? 1 : 0)); }
    FT_STATUS Purge(ULONG mask) override {
        int result = 0;
        if (mask & FT_PURGE_RX) {
            received_.clear();
            result = ::ftdi_tciflush(context_);
        }
        if (result == 0 && (mask & FT_PURGE_TX))
            result = ::ftdi_tcoflush(context_);
        return Checked(result);
    }
    FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) override {
        if (count == 0)
            return FT_OK;
        const int result = ::ftdi_write_data(context_, static_cast<const unsigned char*>(bytes), int(count));
        if (result < 0)
            return Checked(result);
        written = DWORD(result);
        return FT_OK;
    }
    FT_STATUS Queued(QueueCounts& counts) override {
        const FT_STATUS status = Fill();
        counts.rx = DWORD(received_.size());
        return status;
    }
    FT_STATUS Read(void* bytes, DWORD count, DWORD& got) override {
        const FT_STATUS status = received_.size() < count ? Fill() : FT_OK;
        const std::size_t n = std::min<std::size_t>(count, received_.size());
        if (n > 0)
            std::memcpy(bytes, received_.data(), n);
        received_.erase(0, n);
        got = DWORD(n);
        return n > 0 ? FT_OK : status;
    }
    DataWakeup Wakeup(DWORD) override { return {-1, kPollMs}; }

private:
    // A libftdi result as a status; an unplugged chip is let go.
    FT_STATUS Checked(int result) {
        if (result >= 0)
            return FT_OK;
        if (result == LIBUSB_ERROR_NO_DEVICE || result == -666) {
            unplugged_ = true;
            Close();
        }
        return FT_IO_ERROR;
    }
    // Moves what the chip has sent into the receive buffer.
    FT_STATUS Fill() {
        unsigned char chunk[512];
        while (received_.size() < kMaxBuffered) {
            const int result = ::ftdi_read_data(context_, chunk, int(sizeof chunk));
            if (result == LIBUSB_ERROR_TIMEOUT)
                return FT_OK; // nothing came within the time-out: nothing queued
            if (result < 0)
                return Checked(result);
            received_.append(reinterpret_cast<const char*>(chunk), std::size_t(result));
            if (result < int(sizeof chunk))
                return FT_OK;
        }
        return FT_OK;
    }

    ftdi_context* context_;
    std::string received_;
    bool unplugged_ = false;
};

} // namespace

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

FT_STATUS LibFtdiBackend::List(DWORD index, std::string& serialNumber) {
    problem_.clear();
    const std::vector<FoundUnit> units = Scan();
    if (index >= units.size()) {
        if (units.empty() && problem_.empty())
            problem_ = "No FTDI unit found on USB: is it plugged in?";
        return FT_DEVICE_NOT_FOUND;
    }
    serialNumber = units[index].serialNumber;
    return FT_OK;
}

FT_STATUS LibFtdiBackend::Open(const std::string& serialNumber, std::unique_ptr<Port>& port) {
    problem_.clear();
    const std::vector<FoundUnit> units = Scan();
    const auto found = std::find_if(units.begin(), units.end(),
                                    [&](const FoundUnit& u) { return u.serialNumber == serialNumber; });
    if (found == units.end()) {
        problem_ = "No FTDI unit with serial number " + serialNumber + " on USB";
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
    port = std::make_unique<FtdiPort>(context);
    return FT_OK;
}

std::vector<UnitListing> LibFtdiBackend::Units() {
    std::vector<UnitListing> units;
    for (const FoundUnit& found : Scan()) {
        UnitListing unit{"ftdi",
                         found.serialNumber,
                         found.description,
                         "USB bus " + std::to_string(unsigned(found.bus)) + " device " +
                             std::to_string(unsigned(found.address)),
                         found.serialRead,
                         {}};
        if (!found.serialRead)
            unit.whyNot = "its USB descriptors cannot be read: install the udev rule that comes with Tavrin "
                          "(tavrin-ftdi.rules, installed as 70-tavrin-ftdi.rules) and plug the unit in again";
        units.push_back(std::move(unit));
    }
    return units;
}

} // namespace device
