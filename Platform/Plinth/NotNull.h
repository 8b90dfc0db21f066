#pragma once

/// @file
/// NotNull, a shared pointer that is never empty.

#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Vantor {

/// Holds a shared pointer (`Pointer` is a `std::shared_ptr<T>`) that is never empty: an empty
/// one is refused at construction. Copies share the pointee. Header-only; as thread-safe as the
/// pointer it holds.
template <class Pointer>
class NotNull {
public:
    /// Takes `pointer`. @throws std::logic_error "NotNull can not initialized by null" (a plain
    /// exception, without call stack) when it is empty.
    NotNull(Pointer pointer)  // NOLINT: implicit so that a shared_ptr converts where one is taken
        : pointer_(std::move(pointer)) {
        if (!pointer_) {
            throw std::logic_error("NotNull can not initialized by null");
        }
    }

    /// Takes any pointer that converts, such as a shared_ptr to a derived class; throws as the
    /// constructor above.
    template <class Other, class = std::enable_if_t<std::is_convertible_v<Other, Pointer> &&
                                                    !std::is_same_v<std::decay_t<Other>, Pointer>>>
    NotNull(Other pointer)  // NOLINT
        : NotNull(Pointer(std::move(pointer))) {}

    /// The pointer, never empty.
    const Pointer& get() const { return pointer_; }
    /// The pointer, never empty.
    operator const Pointer&() const { return pointer_; }  // NOLINT
    /// The pointee's members.
    auto operator->() const { return pointer_.operator->(); }
    /// The pointee.
    auto& operator*() const { return *pointer_; }

private:
    Pointer pointer_;
};

}  // namespace Vantor
