// Random byte chunks through the simulated unit's receive queue, some at once and
// some arriving later, with measurement exchanges on a driven clock between them.
// Whatever arrives when, an exchange reads at most 255 bytes and only when more
// than 20 are queued, leaves the reply buffer zero after what it read, times out
// only after ten ticks and then leaves the buffer as it was, and every byte sent
// is handed on exactly once, in the order sent.
#include "device/exchange.h"
#include "device/simulated_unit.h"
#include "tests/support/driven_exchange.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxSteps = 96;
constexpr std::size_t kMaxChunk = 700; // longer than any read, so a chunk can need several

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The driven loop dispatches Qt's events at every wait, as the window's does.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    testing::DrivenLoop pump;

    device::SimulatedUnitOptions options;
    options.faults.silentAfter = 0; // the unit says nothing of its own: every byte comes from the input
    auto owned = std::make_unique<device::SimulatedUnit>(options, [&] { return pump.Now(); });
    device::SimulatedUnit& unit = *owned;
    SetD2xxBackend(std::move(owned));
    FT_HANDLE handle = nullptr;
    Check(CurrentD2xx().OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &handle) == FT_OK, "the simulated unit opens");

    std::string sent;
    std::string handedOn;
    std::size_t lastRead = 0;
    int reads = 0;
    unit.SetReadObserver([&](std::string_view bytes) {
        ++reads;
        lastRead = bytes.size();
        handedOn += bytes;
    });

    device::RxBufferBytes rx{};
    testing::DrivenExchange exchange(pump, handle, rx);
    const std::int16_t& replyTicks = exchange.replyTicks;
    std::memset(rx.data(), 0xA5, rx.size()); // what an earlier reply might have left
    for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: { // bytes that arrive at once (after any still on their way)
            std::string chunk = input.ConsumeRandomLengthString(kMaxChunk);
            sent += chunk;
            unit.InjectAfter(std::chrono::microseconds(0), std::move(chunk));
            break;
        }
        case 1: { // bytes that arrive up to 1.5 s from now
            const auto delay = std::chrono::microseconds(input.ConsumeIntegralInRange(0, 1'500'000));
            std::string chunk = input.ConsumeRandomLengthString(kMaxChunk);
            sent += chunk;
            unit.InjectAfter(delay, std::move(chunk));
            break;
        }
        case 2: { // one exchange
            const device::RxBufferBytes before = rx;
            const int readsBefore = reads;
            const long ticksBefore = pump.Ticks();
            const auto result = exchange.Run();
            const long ticks = pump.Ticks() - ticksBefore;
            if (result == device::ExchangeResult::Replied) {
                Check(reads == readsBefore + 1, "a reply is one read");
                Check(exchange.readStatus == FT_OK, "the read succeeded");
                Check(lastRead > 20, "a reply is read only once more than 20 bytes are queued");
                Check(lastRead <= 255, "a read takes at most 255 bytes");
                Check(std::memcmp(rx.data(), handedOn.data() + handedOn.size() - lastRead, lastRead) == 0,
                      "the buffer holds what was read");
                Check(std::all_of(rx.begin() + std::ptrdiff_t(lastRead), rx.end(),
                                  [](auto b) { return b == 0; }),
                      "the buffer is zero after what was read");
                // A reply queued by the time the countdown runs out is still taken, at the tenth tick.
                Check(ticks < 10 ? replyTicks > 0 : ticks == 10 && replyTicks == 0,
                      "a reply is taken by the tenth tick");
            } else {
                Check(reads == readsBefore, "a timed-out exchange reads nothing");
                Check(rx == before, "a timed-out exchange leaves the buffer as it was");
                Check(replyTicks == 0 && ticks == 10, "the reply wait lasts ten ticks");
                Check(unit.ReceiveQueueSize() <= 20, "a time-out leaves 20 bytes or fewer queued");
            }
            Check(rx[device::kRxBufferSize - 1] == 0 || reads == 0, "the buffer stays zero-terminated");
            break;
        }
        case 3: // time passes between exchanges
            for (int n = input.ConsumeIntegralInRange(1, 12); n > 0; --n)
                pump.Step();
            break;
        }
        Check(handedOn.size() <= sent.size() && sent.compare(0, handedOn.size(), handedOn) == 0,
              "bytes are handed on in the order sent");
    }

    // Let everything arrive, take what is left, and nothing may be missing.
    while (unit.BytesOnTheWay() > 0) {
        pump.Step();
        DWORD queued = 0, tx = 0, events = 0;
        CurrentD2xx().GetStatus(handle, &queued, &tx, &events);
    }
    std::string rest(unit.ReceiveQueueSize(), '\0');
    DWORD got = 0;
    CurrentD2xx().Read(handle, rest.data(), DWORD(rest.size()), &got);
    Check(got == rest.size(), "the rest of the queue reads in one go");
    Check(handedOn == sent, "every byte sent is handed on exactly once, in order");

    SetD2xxBackend(nullptr);
    return 0;
}
