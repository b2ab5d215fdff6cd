// The publisher's memory: every sample waits here, in order, until the broker
// has acknowledged it (QoS 1 PUBACK), so a dropped connection loses none; what
// was sent but not acknowledged goes again after a reconnect. Bounded: when
// full, the oldest sample goes first and is counted. Not thread-safe: the
// publisher holds its lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace publish {

// Samples held while the broker is away: 100,000 is 2 h 46 min at the fastest
// sampling (0.1 s) and takes about 30 MB (the README has the measured figure).
constexpr std::size_t kOutboxCapacity = 100000;
// Samples handed to the connection and not yet acknowledged, at most.
constexpr std::size_t kOutboxWindow = 64;

struct OutgoingMessage {
    std::shared_ptr<const std::string> topic; // shared by every sample of a run
    std::string payload;
};

class Outbox {
public:
    explicit Outbox(std::size_t capacity = kOutboxCapacity, std::size_t window = kOutboxWindow);

    // Queues a message; when full, the oldest is dropped first.
    void Push(OutgoingMessage message);

    // The oldest message not yet handed to the connection, when fewer than
    // `window` are in flight; it counts as in flight from now on. The caller
    // answers with Handed or NotHanded before asking again.
    struct Handout {
        std::uint64_t sequence;
        OutgoingMessage message;
    };
    std::optional<Handout> Next();
    // The connection took it under message id `mid`.
    void Handed(std::uint64_t sequence, int mid);
    // The connection refused it: it waits again, first in line.
    void NotHanded(std::uint64_t sequence);

    // The broker's PUBACK for `mid`. May come before Handed has recorded
    // `mid` (the network thread is quick); it is then held until Handed.
    void Acknowledged(int mid);

    // A new connection: whatever was in flight is sent again, oldest first.
    void Reconnected();

    std::size_t Waiting() const { return entries_.size() - acknowledgedInQueue_; } // not yet acknowledged
    std::size_t InFlight() const { return inFlight_; }
    std::uint64_t Delivered() const { return delivered_; } // acknowledged, in all
    std::uint64_t Dropped() const { return dropped_; }     // dropped for room, in all
    // How many times dropping has begun: the box filled up, and had not had room since the time before.
    std::uint64_t DroppingStarts() const { return droppingStarts_; }

private:
    enum class State : std::uint8_t { Waiting, InFlight, Acknowledged };
    struct Entry {
        OutgoingMessage message;
        State state = State::Waiting;
    };
    Entry* Find(std::uint64_t sequence);
    void Acknowledge(std::uint64_t sequence);
    void PopFront();

    std::size_t capacity_;
    std::size_t window_;
    std::deque<Entry> entries_;
    std::uint64_t frontSequence_ = 0; // sequence number of entries_.front()
    std::size_t cursor_ = 0;          // entries before it are in flight or acknowledged
    std::size_t inFlight_ = 0;
    std::size_t acknowledgedInQueue_ = 0; // acknowledged, behind an older one still waiting
    std::unordered_map<int, std::uint64_t> sequenceOfMid_;
    std::optional<std::uint64_t> handing_; // between Next and Handed / NotHanded
    std::vector<int> earlyAcks_;           // PUBACKs for mids not yet recorded
    std::uint64_t delivered_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppingStarts_ = 0;
    bool dropping_ = false; // full, and dropping, since the last time there was room
};

} // namespace publish
