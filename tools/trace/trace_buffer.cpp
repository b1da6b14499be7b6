#include "trace_buffer.h"

#include <algorithm>
#include <new>

namespace matbench::trace {

EventBuffer::EventBuffer(std::uint32_t slot, std::uint32_t thread_type, std::uint32_t capacity)
    : slot_(slot),
      thread_type_(thread_type),
      capacity_(capacity),
      // Value-initialised: every page is written here, not on the first event that lands in it.
      events_(new (std::nothrow) Event[capacity]()) {
  if (!events_) capacity_ = 0;
}

ThreadRegistry::ThreadRegistry(std::uint32_t max_threads, std::uint32_t events_per_thread)
    : max_threads_(max_threads),
      events_per_thread_(events_per_thread),
      slots_(new std::atomic<EventBuffer*>[max_threads]) {
  for (std::uint32_t i = 0; i < max_threads; ++i) slots_[i].store(nullptr);
}

ThreadRegistry::~ThreadRegistry() {
  for (std::uint32_t i = 0; i < max_threads_; ++i) delete slots_[i].load();
}

std::uint32_t ThreadRegistry::Prepare(std::uint32_t count) {
  // Before any thread registers: the slots' buffers are published by Register's own store.
  count = std::min(count, max_threads_);
  while (prepared_ < count) {
    auto* buffer = new (std::nothrow) EventBuffer(prepared_, 0, events_per_thread_);
    if (buffer == nullptr || !buffer->ok()) {
      delete buffer;
      break;
    }
    slots_[prepared_++].store(buffer, std::memory_order_release);
  }
  return prepared_;
}

EventBuffer* ThreadRegistry::Register(std::uint32_t thread_type, bool* made) {
  const std::uint32_t slot = next_slot_.fetch_add(1, std::memory_order_relaxed);
  if (made != nullptr) *made = false;
  if (slot >= max_threads_) {
    lost_threads_.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  if (slot < prepared_) {
    EventBuffer* prepared = slots_[slot].load(std::memory_order_acquire);
    prepared->Claim(thread_type);
    return prepared;
  }
  if (made != nullptr) *made = true;
  auto* buffer = new (std::nothrow) EventBuffer(slot, thread_type, events_per_thread_);
  if (buffer != nullptr && !buffer->ok()) {
    delete buffer;
    buffer = nullptr;
  }
  if (buffer == nullptr) lost_threads_.fetch_add(1, std::memory_order_relaxed);
  slots_[slot].store(buffer, std::memory_order_release);
  return buffer;
}

std::uint32_t ThreadRegistry::registered() const {
  return std::min(next_slot_.load(std::memory_order_relaxed), max_threads_);
}

const EventBuffer* ThreadRegistry::buffer(std::uint32_t slot) const {
  return slot < max_threads_ ? slots_[slot].load(std::memory_order_acquire) : nullptr;
}

}  // namespace matbench::trace
