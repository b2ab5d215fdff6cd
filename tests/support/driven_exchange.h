// One exchange as the run takes it (the request, then a look at the queue at each
// of the unit's wake-ups and at each tick until the reply is read or the 10-tick
// countdown runs out), on a driven loop whose tick it takes over.
#pragma once

#include "device/exchange.h"
#include "tests/support/driven_loop.h"

namespace testing {

class DrivenExchange {
public:
    DrivenExchange(DrivenLoop& loop, FT_HANDLE& handle, device::RxBufferBytes& rx)
        : loop_(loop), handle_(handle), rx_(rx) {
        loop_.tick = [this] {
            if (replyTicks != 0)
                replyTicks = std::int16_t(std::uint16_t(replyTicks) - 1);
            Look();
        };
    }

    device::ExchangeResult Run() {
        device::SendRequest(handle_);
        replyTicks = device::kReplyTimeoutTicks;
        result = device::ExchangeResult::Pending;
        Look();
        loop_.RunWhile([this] { return result == device::ExchangeResult::Pending; });
        return result;
    }

    std::int16_t replyTicks = 0;
    device::ExchangeResult result = device::ExchangeResult::Replied;
    // The result of the read that took the reply.
    FT_STATUS readStatus = FT_OK;

private:
    void Look() {
        if (result != device::ExchangeResult::Pending)
            return;
        result = device::TakeReply(handle_, replyTicks, rx_, readStatus);
        if (result == device::ExchangeResult::Pending)
            loop_.Watch(device::ReplyWakeup(handle_), [this] { Look(); });
        else
            loop_.Unwatch();
    }

    DrivenLoop& loop_;
    FT_HANDLE& handle_;
    device::RxBufferBytes& rx_;
};

} // namespace testing
