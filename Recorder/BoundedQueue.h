#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace Vantor::Lumo::Recorder {

// A queue between one producer and one consumer thread that never holds more than `capacity`
// items, so a consumer falling behind costs items, not memory.
template <class T>
class BoundedQueue {
public:
    explicit BoundedQueue(std::size_t capacity) : capacity_(capacity) {}

    // Adds `item` unless the queue is full or closed; false means the item was not taken.
    bool TryPush(T&& item) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ || items_.size() >= capacity_) {
                return false;
            }
            items_.push_back(std::move(item));
        }
        ready_.notify_one();
        return true;
    }

    // Whether a push would be refused now. With one producer, room seen here is still there at
    // its next push (only the consumer takes items), so costly work can wait for this answer.
    bool Full() {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_ || items_.size() >= capacity_;
    }

    // Whether Close was called.
    bool Closed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

    // Waits for the next item; empty once the queue is closed and drained.
    std::optional<T> Pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty()) {
            return std::nullopt;
        }
        std::optional<T> item(std::move(items_.front()));
        items_.pop_front();
        return item;
    }

    // No more pushes; Pop hands out what is left, then reports the end.
    void Close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }

private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> items_;
    bool closed_ = false;
};

}  // namespace Vantor::Lumo::Recorder
