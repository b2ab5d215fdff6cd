// One request to the unit and its reply, in steps that never wait: send "AL\r",
// then, each time the unit may have answered (its readiness, or the tick),
// look whether more than 20 bytes are queued and read them into the reply
// buffer; the 10-tick countdown ends the wait.
#pragma once

#include "device/d2xx.h"
#include "device/unit_protocol.h"

#include <cstdint>

namespace device {

constexpr std::int16_t kReplyTimeoutTicks = 10;
constexpr DWORD kMaxReadBytes = kRxBufferSize - 1; // room for the zero after the text

enum class ExchangeResult { Pending, Replied, TimedOut };

// Sends the request; the caller then loads its reply countdown with kReplyTimeoutTicks.
void SendRequest(FT_HANDLE handle);

// Looks at the queue once. Replied: the buffer holds the reply (zero-filled first) and `readStatus`
// the read's result; the caller logs it when that is FT_OK. TimedOut: `replyTicks` has run out and
// no reply is queued (a reply queued by the time the countdown runs out is still taken). Pending:
// the caller waits for the unit's readiness or the next tick.
ExchangeResult TakeReply(FT_HANDLE handle, std::int16_t replyTicks, RxBufferBytes& rx, FT_STATUS& readStatus);

// What wakes the wait: part of a reply in the queue does not.
DataWakeup ReplyWakeup(FT_HANDLE handle);

// The receive-queue count, with a failed query counted as nothing queued.
DWORD QueuedBytes(FT_HANDLE handle);

} // namespace device
