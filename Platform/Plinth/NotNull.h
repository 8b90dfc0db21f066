#pragma once

#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Vantor {

// Holds a shared pointer that is never empty: an empty one is refused at construction.
template <class Pointer>
class NotNull {
public:
    NotNull(Pointer pointer)  // NOLINT: implicit so that a shared_ptr converts where one is taken
        : pointer_(std::move(pointer)) {
        if (!pointer_) {
            throw std::logic_error("NotNull can not initialized by null");
        }
    }

    // Takes any pointer that converts, such as a shared_ptr to a derived class.
    template <class Other, class = std::enable_if_t<std::is_convertible_v<Other, Pointer> &&
                                                    !std::is_same_v<std::decay_t<Other>, Pointer>>>
    NotNull(Other pointer)  // NOLINT
        : NotNull(Pointer(std::move(pointer))) {}

    const Pointer& get() const { return pointer_; }
    operator const Pointer&() const { return pointer_; }  // NOLINT
    auto operator->() const { return pointer_.operator->(); }
    auto& operator*() const { return *pointer_; }

private:
    Pointer pointer_;
};

}  // namespace Vantor
