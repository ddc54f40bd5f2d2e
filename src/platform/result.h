#pragma once

#include "platform/error.h"

#include <utility>
#include <variant>

namespace qm::platform {

// The outcome of a call that can fail: a value, or the Error that says why there is none.
//
//     Result<QString> name = store.read();
//     if (!name)
//         return name.error();
//     use(*name);
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error)
        : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    bool hasValue() const { return state_.index() == 0; }

    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    // The value, or `fallback` when the call failed.
    T valueOr(T fallback) const& { return hasValue() ? value() : std::move(fallback); }

    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// The outcome of a call that returns nothing but can fail.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : error_(std::move(error))
        , failed_(true) {}

    explicit operator bool() const { return !failed_; }
    bool hasValue() const { return !failed_; }
    const Error& error() const { return error_; }

private:
    Error error_;
    bool failed_ = false;
};

} // namespace qm::platform
