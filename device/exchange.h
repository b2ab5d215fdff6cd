// One request to the unit and its reply: send "AL\r", wait up to 10 ticks for
// more than 20 queued bytes, read them into the reply buffer.
#pragma once

#include "device/d2xx.h"
#include "device/message_pump.h"
#include "device/unit_protocol.h"

#include <cstdint>

namespace device {

constexpr std::int16_t kReplyTimeoutTicks = 10;
constexpr DWORD kMaxReadBytes = kRxBufferSize - 1; // room for the zero after the text

enum class ExchangeResult { Replied, TimedOut };

// `replyTicks` is the form's countdown, brought down by the tick that runs
// inside `pump`. On Replied the buffer holds the reply (zero-filled first) and
// DeviceStatus the read's result; the caller logs it when that is FT_OK.
ExchangeResult ExchangeSample(FT_HANDLE handle, std::int16_t& replyTicks, RxBufferBytes& rx,
                              MessagePump& pump);

// The receive-queue count, with a failed query counted as nothing queued.
DWORD QueuedBytes(FT_HANDLE handle);

} // namespace device
