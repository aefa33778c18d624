#include "../engine/wakeup.h"

#include <windows.h>

namespace pcmtap {

// Manual reset: the event stays signalled until consumed, as an eventfd
// stays readable, so that a stop is seen by every later wait.
Wakeup::Wakeup() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Wakeup::~Wakeup() {
  if (handle_)
    CloseHandle(handle_);
}

bool Wakeup::valid() const { return handle_ != nullptr; }

void Wakeup::wait() const { WaitForSingleObject(handle_, INFINITE); }

bool Wakeup::wait_for(unsigned millis) const {
  return WaitForSingleObject(handle_, millis) == WAIT_OBJECT_0;
}

void Wakeup::consume() {
  ResetEvent(handle_);
  armed_.exchange(false, std::memory_order_acq_rel);
}

void Wakeup::notify_always() { SetEvent(handle_); }

// A synchronization timer: the wait that it ends also resets it.
Timer::Timer() : handle_(CreateWaitableTimerW(nullptr, FALSE, nullptr)) {}

Timer::~Timer() {
  if (handle_)
    CloseHandle(handle_);
}

bool Timer::valid() const { return handle_ != nullptr; }

void Timer::arm(unsigned millis) {
  LARGE_INTEGER due;
  due.QuadPart = -LONGLONG(millis) * 10000; // relative, in 100 ns
  SetWaitableTimer(handle_, &due, LONG(millis), nullptr, nullptr, FALSE);
}

// A firing just before the clear is taken back too, as setting a timerfd
// does: the watcher does not wake for a write that is over.
void Timer::disarm() {
  CancelWaitableTimer(handle_);
  WaitForSingleObject(handle_, 0);
}

// The stop first: of several signalled handles the wait names the first.
bool Timer::wait(const Wakeup &stop) {
  HANDLE handles[] = {stop.handle(), handle_};
  return WaitForMultipleObjects(2, handles, FALSE, INFINITE) ==
         WAIT_OBJECT_0 + 1;
}

} // namespace pcmtap
