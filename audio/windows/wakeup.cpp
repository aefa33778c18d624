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

} // namespace pcmtap
