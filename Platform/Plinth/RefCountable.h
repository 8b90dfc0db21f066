#pragma once

#include <atomic>

#include "Platform/VantorExport.h"

namespace Vantor {

struct VANTOR_API IRefCountable {
    virtual void AddRef() const = 0;
    virtual void Release() const = 0;  // the last release deletes the object
protected:
    virtual ~IRefCountable() = default;
};

VANTOR_API void intrusive_ptr_add_ref(const IRefCountable* object);
VANTOR_API void intrusive_ptr_release(const IRefCountable* object);

// The usual implementation: an atomic count that deletes the object at zero.
class VANTOR_API RefCounted : public virtual IRefCountable {
public:
    void AddRef() const override;
    void Release() const override;

protected:
    RefCounted() = default;
    RefCounted(const RefCounted&) : IRefCountable() {}
    RefCounted& operator=(const RefCounted&) { return *this; }
    ~RefCounted() override = default;

private:
    mutable std::atomic<int> count_{0};
};

}  // namespace Vantor
