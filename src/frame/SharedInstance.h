// The process-wide single object of a shared interface and its reference count.
#pragma once

#include "platform/Mutex.h"

#include <cstdint>
#include <mutex>

namespace pelmux {

// Obtain: build the object when there is none, then count one more reference; when none can be
// built, answer null and count nothing.
// Release: count one less; at exactly 0 free the object. Surplus releases only drive the count
// below zero, as callers of the shared interfaces have always seen. Both run under one lock, so
// concurrent obtain and release calls of one interface cannot free an object in use.
template <class Imp> class SharedInstance {
public:
    template <class Make> Imp* obtain(Make make)
    {
        std::lock_guard lock(mutex_);
        if (object_ == nullptr)
            object_ = make();
        // No object (memory exhausted): no reference either, or the count would never reach 0.
        if (object_ == nullptr)
            return nullptr;
        ++refCount_;
        return object_;
    }

    void release()
    {
        Imp* doomed = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (--refCount_ == 0 && object_ != nullptr) {
                doomed = object_;
                object_ = nullptr;
            }
        }
        delete doomed;
    }

    std::int32_t refCount() const
    {
        std::lock_guard lock(mutex_);
        return refCount_;
    }

private:
    mutable platform::Mutex mutex_;
    Imp* object_ = nullptr;
    std::int32_t refCount_ = 0;
};

} // namespace pelmux
