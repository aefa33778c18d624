// A recording device opened before an input is chosen: what it records is
// decided when the recording starts, where `choose` may give another
// source (a program's, once one is chosen) to record in the place of the
// one it has.
#ifndef PCMTAP_AUDIO_ENGINE_CHOSEN_CAPTURE_H
#define PCMTAP_AUDIO_ENGINE_CHOSEN_CAPTURE_H

#include "capture_source.h"

#include <functional>
#include <memory>

namespace pcmtap {

class ChosenCapture final : public CaptureSource {
public:
  // Null: the source it has goes on recording.
  using Choose = std::function<std::unique_ptr<CaptureSource>()>;

  ChosenCapture(std::unique_ptr<CaptureSource> source, Choose choose)
      : source_(std::move(source)), choose_(std::move(choose)) {}

  unsigned channels() const override { return source_->channels(); }
  unsigned rate() const override { return source_->rate(); }
  size_t max_read_frames() const override { return source_->max_read_frames(); }
  unsigned buffer_millis() const override { return source_->buffer_millis(); }
  size_t period_frames() const override { return source_->period_frames(); }
  int start() override {
    if (std::unique_ptr<CaptureSource> other = choose_()) {
      source_->stop();
      source_ = std::move(other);
    }
    return source_->start();
  }
  int wait(const Wakeup &stop) override { return source_->wait(stop); }
  long available() override { return source_->available(); }
  long pending() override { return source_->pending(); }
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override {
    return source_->read(dst, max_frames, lost);
  }
  void release_held_audio() override { source_->release_held_audio(); }
  void stop() override { source_->stop(); }
  const char *error_text(int err) const override {
    return source_->error_text(err);
  }

private:
  std::unique_ptr<CaptureSource> source_;
  Choose choose_;
};

} // namespace pcmtap

#endif
