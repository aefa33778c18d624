// A wake-up one thread gives another through an eventfd, so that the
// waiting side can sit in poll() beside other descriptors.  A thread that is
// about to wait says so first; notify() only costs a system call when
// somebody is (or is about to be) waiting.
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

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Waiting side: announce, check the condition again, then poll fd().
  void prepare_wait() { armed_.exchange(true, std::memory_order_acq_rel); }
  void cancel_wait() { armed_.exchange(false, std::memory_order_acq_rel); }
  // Clears the pending count after poll() reported fd() readable.
  void consume();

  // Waking side: call after publishing the change the waiter looks for.
  void notify();
  // Wakes whether or not anybody announced a wait (stop requests).
  void notify_always();

private:
  int fd_;
  std::atomic<bool> armed_{false};
};

} // namespace pcmtap

#endif
