#include "Platform/Plinth/RefCountable.h"

namespace Vantor {

void intrusive_ptr_add_ref(const IRefCountable* object) {
    object->AddRef();
}

void intrusive_ptr_release(const IRefCountable* object) {
    object->Release();
}

void RefCounted::AddRef() const {
    count_.fetch_add(1, std::memory_order_relaxed);
}

void RefCounted::Release() const {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

}  // namespace Vantor
