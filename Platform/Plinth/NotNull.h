#pragma once

#include <stdexcept>
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

    const Pointer& get() const { return pointer_; }
    operator const Pointer&() const { return pointer_; }  // NOLINT
    auto operator->() const { return pointer_.operator->(); }
    auto& operator*() const { return *pointer_; }

private:
    Pointer pointer_;
};

}  // namespace Vantor
