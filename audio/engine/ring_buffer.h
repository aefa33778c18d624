// Single-producer/single-consumer byte ring between the device thread and
// the delivery thread.  Indices run free and are masked on use, so "full"
// and "empty" never need a spare slot; each side publishes with release and
// reads the other side's index with acquire.
#ifndef PCMTAP_AUDIO_ENGINE_RING_BUFFER_H
#define PCMTAP_AUDIO_ENGINE_RING_BUFFER_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

namespace pcmtap {

struct Region {
  unsigned char *data;
  size_t size;
};

class RingBuffer {
public:
  // `capacity` must be a power of two.
  explicit RingBuffer(size_t capacity)
      : capacity_(capacity), mask_(capacity - 1),
        data_(new unsigned char[capacity]) {}

  size_t capacity() const { return capacity_; }

  // Producer side: the contiguous free space after the write index.  Bytes
  // written there become visible to the consumer through commit().
  Region free_region() const {
    size_t w = write_.load(std::memory_order_relaxed);
    size_t r = read_.load(std::memory_order_acquire);
    size_t free = capacity_ - (w - r);
    size_t offset = w & mask_;
    return {data_.get() + offset, std::min(free, capacity_ - offset)};
  }
  void commit(size_t n) {
    write_.store(write_.load(std::memory_order_relaxed) + n,
                 std::memory_order_release);
  }

  // Consumer side: the contiguous filled space after the read index.
  Region filled_region() const {
    size_t r = read_.load(std::memory_order_relaxed);
    size_t w = write_.load(std::memory_order_acquire);
    size_t offset = r & mask_;
    return {data_.get() + offset, std::min(w - r, capacity_ - offset)};
  }
  void release(size_t n) {
    read_.store(read_.load(std::memory_order_relaxed) + n,
                std::memory_order_release);
  }

  // Starts over at the beginning of the buffer, so that the memory in use
  // stays small.  Only for an empty ring, and only while one thread is
  // both its producer and its consumer.
  void rewind() {
    write_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
  }

  // Either side: how much is filled right now.
  size_t filled() const {
    return write_.load(std::memory_order_acquire) -
           read_.load(std::memory_order_acquire);
  }

private:
  const size_t capacity_;
  const size_t mask_;
  std::unique_ptr<unsigned char[]> data_;
  // Apart, so that the two threads do not fight over one cache line.
  alignas(64) std::atomic<size_t> write_{0};
  alignas(64) std::atomic<size_t> read_{0};
};

} // namespace pcmtap

#endif
