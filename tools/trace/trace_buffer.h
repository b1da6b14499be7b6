// The tool's memory: one bounded event buffer per thread, and the fixed table that hands them
// out. Pure code, free of OpenMP, so that the tests can drive it.
//
// A buffer is written only by the thread it belongs to. Append never allocates, locks or calls
// the system: an event that does not fit is counted as lost. The registry gives at most its
// capacity of threads a buffer; later threads are counted, and so are their events, through
// the registry's atomic counters.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "trace_format.h"

namespace matbench::trace {

class EventBuffer {
 public:
  // Allocates and touches every event's memory now, so that no page fault waits on Append.
  // Check ok(): a failed allocation leaves a buffer of capacity 0.
  EventBuffer(std::uint32_t slot, std::uint32_t thread_type, std::uint32_t capacity);
  EventBuffer(const EventBuffer&) = delete;
  EventBuffer& operator=(const EventBuffer&) = delete;

  // A prepared buffer handed to the thread that begins in its slot.
  void Claim(std::uint32_t thread_type) { thread_type_ = thread_type; }

  bool ok() const { return events_ != nullptr; }

  void Append(const Event& event) {
    if (count_ < capacity_) {
      events_[count_++] = event;
    } else {
      ++lost_;
    }
  }

  std::uint32_t slot() const { return slot_; }
  std::uint32_t thread_type() const { return thread_type_; }
  std::uint32_t capacity() const { return capacity_; }
  std::uint64_t count() const { return count_; }
  std::uint64_t lost() const { return lost_; }
  const Event* events() const { return events_.get(); }

 private:
  std::uint32_t slot_;
  std::uint32_t thread_type_;
  std::uint32_t capacity_;
  std::uint64_t count_ = 0;
  std::uint64_t lost_ = 0;
  std::unique_ptr<Event[]> events_;
};

class ThreadRegistry {
 public:
  ThreadRegistry(std::uint32_t max_threads, std::uint32_t events_per_thread);
  ~ThreadRegistry();
  ThreadRegistry(const ThreadRegistry&) = delete;
  ThreadRegistry& operator=(const ThreadRegistry&) = delete;

  // Makes and touches the buffers of the first `count` threads (at most max_threads) now, so
  // that Register hands them out without allocating; returns how many were made.
  std::uint32_t Prepare(std::uint32_t count);

  // Called once by each thread as it begins: its buffer (a prepared one while any is left, else
  // one made now), or nullptr when the table is full or the memory could not be had; the thread
  // is then counted in lost_threads(). `made` tells whether the buffer was made in this call.
  EventBuffer* Register(std::uint32_t thread_type, bool* made = nullptr);

  // Counts an event of a thread that has no buffer.
  void CountLostEvent() { lost_events_.fetch_add(1, std::memory_order_relaxed); }

  // The buffers of threads 0 .. registered() - 1, in the order they began; nullptr for none.
  // Read once every thread has stopped recording.
  std::uint32_t registered() const;
  const EventBuffer* buffer(std::uint32_t slot) const;

  std::uint32_t max_threads() const { return max_threads_; }
  std::uint32_t events_per_thread() const { return events_per_thread_; }
  std::uint32_t lost_threads() const { return lost_threads_.load(std::memory_order_relaxed); }
  std::uint64_t lost_events() const { return lost_events_.load(std::memory_order_relaxed); }

 private:
  std::uint32_t max_threads_;
  std::uint32_t events_per_thread_;
  std::uint32_t prepared_ = 0;  // slots 0 .. prepared_ - 1 hold a buffer made ahead
  std::unique_ptr<std::atomic<EventBuffer*>[]> slots_;
  std::atomic<std::uint32_t> next_slot_{0};
  std::atomic<std::uint32_t> lost_threads_{0};
  std::atomic<std::uint64_t> lost_events_{0};
};

}  // namespace matbench::trace
