// Result<T, E>: the value-or-error type returned by the pure C++ layers instead of exceptions.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace velmora {

// Wraps an error value so that Result<T, E> can be built from it unambiguously.
template <class E>
struct Err {
    E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Err<F> e) : v_(std::in_place_index<1>, E(std::move(e.error))) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & noexcept { return *std::get_if<0>(&v_); }
    const T& value() const& noexcept { return *std::get_if<0>(&v_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&v_)); }
    T& operator*() & noexcept { return value(); }
    const T& operator*() const& noexcept { return value(); }
    T* operator->() noexcept { return &value(); }
    const T* operator->() const noexcept { return &value(); }

    E& error() & noexcept { return *std::get_if<1>(&v_); }
    const E& error() const& noexcept { return *std::get_if<1>(&v_); }
    E&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

private:
    std::variant<T, E> v_;
};

// Result of an operation that yields nothing on success.
struct Unit {};

template <class E>
using Status = Result<Unit, E>;

}  // namespace velmora

// Propagates the error of a Result expression out of the enclosing function.
#define VELMORA_TRY(expr)                                              \
    do {                                                               \
        auto&& velmora_try_r_ = (expr);                                \
        if (!velmora_try_r_.ok())                                      \
            return ::velmora::Err{std::move(velmora_try_r_).error()};  \
    } while (0)
