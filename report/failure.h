// How the logger says that something could not be done: one result type that
// carries either a value or the reason, in plain words for the person at the
// logger. Calls of the unit's own interface keep their status codes (FT_STATUS);
// everything above them answers with a Result.
#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <variant>

namespace report {

struct Failure {
    QString reason;
};

inline Failure Fail(QString reason) {
    return Failure{std::move(reason)};
}

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool Ok() const { return state_.index() == 0; }
    explicit operator bool() const { return Ok(); }

    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }

    // Only for a result that is not Ok().
    const Failure& Error() const { return std::get<1>(state_); }
    const QString& Reason() const { return Error().reason; }

private:
    std::variant<T, Failure> state_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool Ok() const { return !failure_; }
    explicit operator bool() const { return Ok(); }

    // Only for a result that is not Ok().
    const Failure& Error() const { return *failure_; }
    const QString& Reason() const { return failure_->reason; }

private:
    std::optional<Failure> failure_;
};

// Done, or why not.
using Done = Result<void>;

// The text of a system error number (errno) in English, whatever the user's
// locale: the logger's messages are English, and a Japanese system text inside
// one reads as garbage on a terminal without Japanese.
QString SystemErrorText(int error);

} // namespace report
