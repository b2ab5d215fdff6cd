#include "publish/outbox.h"

#include <algorithm>

namespace publish {

Outbox::Outbox(std::size_t capacity, std::size_t window)
    : capacity_(std::max<std::size_t>(capacity, 1)), window_(std::max<std::size_t>(window, 1)) {}

void Outbox::Push(OutgoingMessage message) {
    while (entries_.size() >= capacity_) {
        if (entries_.front().state != State::Acknowledged) {
            ++dropped_;
            if (!dropping_)
                ++droppingStarts_;
            dropping_ = true;
        }
        PopFront();
    }
    entries_.push_back(Entry{std::move(message), State::Waiting});
}

void Outbox::PopFront() {
    Entry& front = entries_.front();
    if (front.state == State::InFlight)
        --inFlight_;
    else if (front.state == State::Acknowledged)
        --acknowledgedInQueue_;
    entries_.pop_front();
    ++frontSequence_;
    if (cursor_ > 0)
        --cursor_;
}

std::optional<Outbox::Handout> Outbox::Next() {
    if (inFlight_ >= window_ || handing_)
        return std::nullopt;
    while (cursor_ < entries_.size() && entries_[cursor_].state != State::Waiting)
        ++cursor_;
    if (cursor_ >= entries_.size())
        return std::nullopt;
    Entry& entry = entries_[cursor_];
    entry.state = State::InFlight;
    ++inFlight_;
    const std::uint64_t sequence = frontSequence_ + cursor_;
    ++cursor_;
    handing_ = sequence;
    return Handout{sequence, entry.message};
}

Outbox::Entry* Outbox::Find(std::uint64_t sequence) {
    if (sequence < frontSequence_ || sequence - frontSequence_ >= entries_.size())
        return nullptr; // dropped for room meanwhile
    return &entries_[static_cast<std::size_t>(sequence - frontSequence_)];
}

void Outbox::Handed(std::uint64_t sequence, int mid) {
    handing_.reset();
    const bool ackedAlready = std::find(earlyAcks_.begin(), earlyAcks_.end(), mid) != earlyAcks_.end();
    earlyAcks_.clear();
    if (ackedAlready)
        Acknowledge(sequence);
    else
        sequenceOfMid_[mid] = sequence;
}

void Outbox::NotHanded(std::uint64_t sequence) {
    handing_.reset();
    earlyAcks_.clear();
    if (Entry* entry = Find(sequence); entry && entry->state == State::InFlight) {
        entry->state = State::Waiting;
        --inFlight_;
        cursor_ = std::min(cursor_, static_cast<std::size_t>(sequence - frontSequence_));
    }
}

void Outbox::Acknowledged(int mid) {
    const auto found = sequenceOfMid_.find(mid);
    if (found == sequenceOfMid_.end()) {
        if (handing_)
            earlyAcks_.push_back(mid);
        return; // otherwise a PUBACK for a message already acknowledged or dropped
    }
    const std::uint64_t sequence = found->second;
    sequenceOfMid_.erase(found);
    Acknowledge(sequence);
}

void Outbox::Acknowledge(std::uint64_t sequence) {
    Entry* entry = Find(sequence);
    if (!entry || entry->state == State::Acknowledged)
        return; // a duplicate PUBACK after a resend
    if (entry->state == State::InFlight)
        --inFlight_;
    entry->state = State::Acknowledged;
    ++acknowledgedInQueue_;
    ++delivered_;
    while (!entries_.empty() && entries_.front().state == State::Acknowledged)
        PopFront();
    if (entries_.size() < capacity_)
        dropping_ = false;
}

void Outbox::Reconnected() {
    for (std::size_t i = 0; i < cursor_ && i < entries_.size(); ++i) // none in flight beyond the cursor
        if (entries_[i].state == State::InFlight)
            entries_[i].state = State::Waiting;
    inFlight_ = 0;
    cursor_ = 0;
    // The old mids stay known while their samples wait, in case the broker
    // still answers for them; those already gone are forgotten.
    std::erase_if(sequenceOfMid_, [this](const auto& item) { return item.second < frontSequence_; });
}

} // namespace publish
