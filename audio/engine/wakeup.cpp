#include "wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace pcmtap {

Wakeup::Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wakeup::~Wakeup() {
  if (fd_ >= 0)
    close(fd_);
}

void Wakeup::consume() {
  uint64_t count;
  // Nonblocking: a spurious wake-up finds nothing and that is fine.
  ssize_t n = read(fd_, &count, sizeof count);
  (void)n;
  armed_.exchange(false, std::memory_order_acq_rel);
}

void Wakeup::notify() {
  // Either the waiter armed before this, and is woken, or it arms after
  // and then sees what was published before this call.
  if (armed_.exchange(false, std::memory_order_acq_rel))
    notify_always();
}

void Wakeup::notify_always() {
  uint64_t one = 1;
  ssize_t n = write(fd_, &one, sizeof one);
  (void)n; // only fails when the counter is saturated, i.e. already readable
}

} // namespace pcmtap
