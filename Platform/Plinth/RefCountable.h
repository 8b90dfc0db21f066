#pragma once

/// @file
/// Intrusive reference counting for the host media objects.

#include <atomic>

#include "Platform/VantorExport.h"

namespace Vantor {

/// An object owned through `boost::intrusive_ptr`: the host's stream reader, stream and format
/// file. Its count must be safe to change from several threads.
struct VANTOR_API IRefCountable {
    /// Counts one more owner.
    virtual void AddRef() const = 0;
    /// Counts one owner less; the last release deletes the object.
    virtual void Release() const = 0;

protected:
    /// Only Release() deletes.
    virtual ~IRefCountable() = default;
};

/// `boost::intrusive_ptr`'s hook: calls `object->AddRef()`.
VANTOR_API void intrusive_ptr_add_ref(const IRefCountable* object);
/// `boost::intrusive_ptr`'s hook: calls `object->Release()`.
VANTOR_API void intrusive_ptr_release(const IRefCountable* object);

/// The usual implementation of IRefCountable: an atomic count, starting at 0, that deletes the
/// object when it returns to 0. Derive from it and hand the object to a `boost::intrusive_ptr`.
class VANTOR_API RefCounted : public virtual IRefCountable {
public:
    /// Adds one to the count.
    void AddRef() const override;
    /// Takes one from the count, and deletes the object at 0.
    void Release() const override;

protected:
    /// A count of 0.
    RefCounted() = default;
    /// A copy starts with its own count of 0.
    RefCounted(const RefCounted&) : IRefCountable() {}
    /// Keeps this object's count.
    RefCounted& operator=(const RefCounted&) { return *this; }
    ~RefCounted() override = default;

private:
    mutable std::atomic<int> count_{0};
};

}  // namespace Vantor
