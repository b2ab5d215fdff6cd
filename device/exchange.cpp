#include "device/exchange.h"

#include <algorithm>

namespace device {

DWORD QueuedBytes(FT_HANDLE handle) {
    DWORD rx = 0, tx = 0, events = 0;
    if (FT_GetStatus(handle, &rx, &tx, &events) != FT_OK)
        return 0;
    return rx;
}

ExchangeResult ExchangeSample(FT_HANDLE handle, std::int16_t& replyTicks, RxBufferBytes& rx,
                              MessagePump& pump) {
    DWORD written = 0;
    FT_Write(handle, kRequest.data(), DWORD(kRequest.size()), &written);
    replyTicks = kReplyTimeoutTicks;

    DWORD queued = 0;
    for (;;) {
        queued = QueuedBytes(handle);
        if (queued >= kReplyMinimumBytes)
            break;
        // Tested after the query, so a reply queued by the time the countdown runs
        // out is still taken: a modal dialog's own event loop (colour, print) can
        // run the countdown out while it holds this wait.
        if (replyTicks == 0) {
            pump.UnwatchDevice();
            return ExchangeResult::TimedOut;
        }
        // Sleeps until a whole reply's worth is queued or the next tick: part of a reply in the queue
        // does not wake it.
        pump.WatchDevice(CurrentD2xx().Wakeup(handle, kReplyMinimumBytes));
        pump.ProcessMessages();
    }
    pump.UnwatchDevice();

    rx.fill(0);
    DWORD bytesRead = 0;
    DeviceStatus = FT_Read(handle, rx.data(), std::min(queued, kMaxReadBytes), &bytesRead);
    return ExchangeResult::Replied;
}

} // namespace device
