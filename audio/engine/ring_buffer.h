// Single-producer/single-consumer byte ring between the device thread and
// the delivery thread.  Indices run free and are masked on use, so "full"
// and "empty" never need a spare slot; each side publishes with release and
// reads the other side's index with acquire.
#ifndef PCMTAP_AUDIO_ENGINE_RING_BUFFER_H
#define PCMTAP_AUDIO_ENGINE_RING_BUFFER_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
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
  // The first `n` filled bytes (at most filled()) in one piece: where they
  // are, or where they wrap, copied into `spare`.
  const unsigned char *peek(size_t n, unsigned char *spare) const {
    Region filled = filled_region();
    if (filled.size >= n)
      return filled.data;
    std::memcpy(spare, filled.data, filled.size);
    std::memcpy(spare + filled.size, data_.get(), n - filled.size);
    return spare;
  }
  void release(size_t n) {
    read_.store(read_.load(std::memory_order_relaxed) + n,
                std::memory_order_release);
  }

  // Moves what is filled to the beginning of the buffer, so that the
  // memory in use stays small; a ring filled across its end stays as it
  // is.  Only while one thread is both its producer and its consumer.
  void rewind() {
    Region filled = filled_region();
    if (filled.size != this->filled())
      return;
    std::memmove(data_.get(), filled.data, filled.size);
    write_.store(filled.size, std::memory_order_relaxed);
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
