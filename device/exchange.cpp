#include "device/exchange.h"

#include <algorithm>

namespace device {

DWORD QueuedBytes(FT_HANDLE handle) {
    DWORD rx = 0, tx = 0, events = 0;
    if (CurrentD2xx().GetStatus(handle, &rx, &tx, &events) != FT_OK)
        return 0;
    return rx;
}

void SendRequest(FT_HANDLE handle) {
    DWORD written = 0;
    CurrentD2xx().Write(handle, kRequest.data(), DWORD(kRequest.size()), &written);
}

ExchangeResult TakeReply(FT_HANDLE handle, std::int16_t replyTicks, RxBufferBytes& rx, FT_STATUS& readStatus) {
    const DWORD queued = QueuedBytes(handle);
    if (queued < kReplyMinimumBytes)
        return replyTicks == 0 ? ExchangeResult::TimedOut : ExchangeResult::Pending;
    rx.fill(0);
    DWORD bytesRead = 0;
    readStatus = CurrentD2xx().Read(handle, rx.data(), std::min(queued, kMaxReadBytes), &bytesRead);
    return ExchangeResult::Replied;
}

DataWakeup ReplyWakeup(FT_HANDLE handle) {
    return CurrentD2xx().Wakeup(handle, kReplyMinimumBytes);
}

} // namespace device
