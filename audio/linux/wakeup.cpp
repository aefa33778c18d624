#include "../engine/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace pcmtap {

Wakeup::Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

bool Wakeup::valid() const { return fd_ >= 0; }

void Wakeup::wait() const {
  pollfd pfd = {fd_, POLLIN, 0};
  poll(&pfd, 1, -1);
}

bool Wakeup::wait_for(unsigned millis) const {
  pollfd pfd = {fd_, POLLIN, 0};
  return poll(&pfd, 1, int(millis)) > 0;
}

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

void Wakeup::notify_always() {
  uint64_t one = 1;
  ssize_t n = write(fd_, &one, sizeof one);
  (void)n; // only fails when the counter is saturated, i.e. already readable
}

} // namespace pcmtap
