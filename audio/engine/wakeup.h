// A wake-up one thread gives another, through what the platform waits on
// beside other things: an eventfd for poll() on Linux, an event for
// WaitForMultipleObjects() on Windows; and a timer waited on with one.  A
// thread that is about to wait says so first; notify() only costs a system call
// when somebody is (or is about to be) waiting.
//
// Every change of the flag is a read-modify-write, so the flag's changes
// form one chain: a waiter that arms after a notify() has also seen
// everything published before that notify(), and checks it before sleeping.
#ifndef PCMTAP_AUDIO_ENGINE_WAKEUP_H
#define PCMTAP_AUDIO_ENGINE_WAKEUP_H

#include <atomic>

namespace pcmtap {

class Wakeup {
public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup &) = delete;
  Wakeup &operator=(const Wakeup &) = delete;

  bool valid() const;
#ifdef _WIN32
  // A manual-reset event, signalled while a wake-up is pending.
  void *handle() const { return handle_; }
#else
  // Readable while a wake-up is pending.
  int fd() const { return fd_; }
#endif

  // Waiting side: announce, check the condition again, then poll fd().
  void prepare_wait() { armed_.exchange(true, std::memory_order_acq_rel); }
  void cancel_wait() { armed_.exchange(false, std::memory_order_acq_rel); }
  // Blocks until a wake-up is pending.
  void wait() const;
  // The same for at most `millis`; false when none came.
  bool wait_for(unsigned millis) const;
  // Clears the pending wake-up once wait() (or the platform's own wait on
  // the descriptor) returned.
  void consume();

  // Waking side: call after publishing the change the waiter looks for.
  // Either the waiter armed before this, and is woken, or it arms after
  // and then sees what was published before this call.
  void notify() {
    if (armed_.exchange(false, std::memory_order_acq_rel))
      notify_always();
  }
  // Wakes whether or not anybody announced a wait (stop requests).
  void notify_always();

private:
#ifdef _WIN32
  void *handle_;
#else
  int fd_;
#endif
  std::atomic<bool> armed_{false};
};

// A periodic timer that one thread sets and clears and another sleeps on,
// together with a Wakeup: a timerfd on Linux, a waitable timer on Windows.
// Setting and clearing it are a system call each and wake nobody.
class Timer {
public:
  Timer();
  ~Timer();
  Timer(const Timer &) = delete;
  Timer &operator=(const Timer &) = delete;

  bool valid() const;
  // Fires `millis` from now and every `millis` after that, until cleared.
  void arm(unsigned millis);
  void disarm();
  // Blocks until the timer fires (true) or `stop` is pending (false; also
  // when the platform cannot wait).  `stop` is left pending.
  bool wait(const Wakeup &stop);

private:
#ifdef _WIN32
  void *handle_;
#else
  int fd_;
#endif
};

} // namespace pcmtap

#endif
