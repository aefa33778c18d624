#include "../engine/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
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

// Nonblocking, so that a look that finds the expiry already taken (the
// timer was set again meanwhile, which clears it) does not block.
Timer::Timer()
    : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

Timer::~Timer() {
  if (fd_ >= 0)
    close(fd_);
}

bool Timer::valid() const { return fd_ >= 0; }

void Timer::arm(unsigned millis) {
  timespec period = {time_t(millis / 1000), long(millis % 1000) * 1000000};
  itimerspec setting = {period, period};
  timerfd_settime(fd_, 0, &setting, nullptr);
}

void Timer::disarm() {
  itimerspec setting = {};
  timerfd_settime(fd_, 0, &setting, nullptr);
}

bool Timer::wait(const Wakeup &stop) {
  pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (fds[0].revents != 0)
      return false;
    uint64_t expiries;
    ssize_t n = read(fd_, &expiries, sizeof expiries);
    (void)n; // EAGAIN: set again since it fired, which is a look too many
    return true;
  }
}

} // namespace pcmtap
