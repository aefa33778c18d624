// Owned COM pointers and COM-allocated memory, released when they go.
#ifndef PCMTAP_AUDIO_WASAPI_COM_REF_H
#define PCMTAP_AUDIO_WASAPI_COM_REF_H

#include <windows.h>

#include <objbase.h>

namespace pcmtap {

template <typename T> class ComRef {
public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef &) = delete;
  ComRef &operator=(const ComRef &) = delete;
  ComRef(ComRef &&other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComRef &operator=(ComRef &&other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }

  void reset() {
    if (p_)
      p_->Release();
    p_ = nullptr;
  }
  // For the calls that hand out a new reference.
  T **put() {
    reset();
    return &p_;
  }
  void **put_void() { return reinterpret_cast<void **>(put()); }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

private:
  T *p_ = nullptr;
};

// A string or structure that COM allocated for the caller.
template <typename T> class CoTaskMem {
public:
  CoTaskMem() = default;
  ~CoTaskMem() { CoTaskMemFree(p_); }
  CoTaskMem(const CoTaskMem &) = delete;
  CoTaskMem &operator=(const CoTaskMem &) = delete;

  T **put() {
    CoTaskMemFree(p_);
    p_ = nullptr;
    return &p_;
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }

private:
  T *p_ = nullptr;
};

} // namespace pcmtap

#endif
