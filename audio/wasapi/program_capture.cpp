#include "program_capture.h"

#include "../engine/followed_program.h"
#include "endpoint_inputs.h"
#include "session_programs.h"
#include "wasapi_capture.h"
#include "wasapi_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace pcmtap {
namespace {

// How often the sessions are looked at for a process that came.
const UINT64 kLookTicks = 250 * 10000;

class ProgramCapture final : public WasapiSource {
public:
  ProgramCapture(unsigned rate, unsigned channels, std::string name,
                 std::shared_ptr<SessionApi> sessions, ProcessStreamOpener open,
                 std::shared_ptr<Clock> clock)
      : WasapiSource(rate, channels), name_(std::move(name)),
        sessions_(std::move(sessions)), open_(std::move(open)),
        clock_(std::move(clock)), presence_(name_, "has ended") {}
  ~ProgramCapture() override { stop(); }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;

private:
  // One process of the program's, recorded by a capture of its own, which
  // keeps time with silence while the process plays nothing; and what it
  // gave that is not mixed yet, the recording's frames from `from` on.
  struct Tap {
    DWORD pid = 0;
    std::shared_ptr<CaptureStream> stream;  // to see whether it has ended
    std::unique_ptr<CaptureSource> capture; // null once it has ended
    std::vector<unsigned char> held;
    UINT64 from = 0;
  };

  void look(UINT64 now);
  void attach(DWORD pid);
  void take_from(Tap &tap);
  void take_in();
  UINT64 reach(const Tap &tap) const {
    return tap.from + tap.held.size() / frame_bytes();
  }
  UINT64 ready(UINT64 now) const;
  void mix(unsigned char *out, size_t frames);

  const std::string name_;
  std::shared_ptr<SessionApi> sessions_;
  ProcessStreamOpener open_;
  std::shared_ptr<Clock> clock_;
  ProgramPresence presence_;
  bool running_ = false;
  std::vector<std::unique_ptr<Tap>> taps_;
  // Processes of the name not to open again while their sessions are
  // listed: those that ended (a session may outlive its process a while)
  // and those refused.
  std::vector<DWORD> done_;
  // The recording's time line: its frame n is `n / rate_` after `start_`;
  // `written_` frames are out.
  UINT64 start_ = 0;
  UINT64 written_ = 0;
  UINT64 looked_ = 0;
  DeviceLosses lost_;
  int error_ = 0; // a stream of a process that has not ended failed
};

int ProgramCapture::start() {
  stop();
  if (!sessions_)
    return int(E_NOTIMPL);
  presence_.restart();
  done_.clear();
  start_ = clock_->now();
  written_ = 0;
  lost_ = {};
  error_ = 0;
  running_ = true;
  look(start_);
  return 0;
}

void ProgramCapture::stop() {
  if (!running_)
    return;
  running_ = false;
  for (auto &tap : taps_)
    if (tap->capture)
      tap->capture->stop();
  taps_.clear();
}

// A process's tap for each process of the name that came, and none for
// one that ended, once what it played is in.
void ProgramCapture::look(UINT64 now) {
  looked_ = now;
  std::vector<AudioSession> sessions;
  if (FAILED(sessions_->active_sessions(&sessions)))
    sessions.clear(); // the next look tries again
  std::vector<DWORD> listed;
  for (const SessionProcess &process : processes_of(sessions)) {
    if (!goes_by(process, name_))
      continue;
    listed.push_back(process.pid);
    const bool known =
        std::find(done_.begin(), done_.end(), process.pid) != done_.end() ||
        std::any_of(taps_.begin(), taps_.end(),
                    [&](auto &tap) { return tap->pid == process.pid; });
    if (!known)
      attach(process.pid);
  }
  // A process that is no longer listed is new if its id comes again.
  done_.erase(std::remove_if(done_.begin(), done_.end(),
                             [&](DWORD pid) {
                               return std::find(listed.begin(), listed.end(),
                                                pid) == listed.end();
                             }),
              done_.end());
  bool plays = false;
  for (auto &tap : taps_) {
    if (tap->capture && tap->stream->source_ended()) {
      take_from(*tap);
      tap->capture->stop();
      tap->capture.reset();
      tap->stream.reset();
      done_.push_back(tap->pid);
    }
    plays = plays || tap->capture;
  }
  presence_.update(plays, plays);
}

// Its first frame is the recording's frame of the time it started.
void ProgramCapture::attach(DWORD pid) {
  auto tap = std::make_unique<Tap>();
  tap->pid = pid;
  auto choice = std::make_shared<EndpointChoice>();
  choice->loopback = true;
  choice->pid = pid;
  Tap *opened = tap.get();
  tap->capture = make_wasapi_capture(
      rate_, channels_, choice, nullptr,
      [this, opened](DWORD asked, unsigned rate, unsigned channels,
                     std::shared_ptr<CaptureStream> *out) {
        HRESULT hr = open_(asked, rate, channels, out);
        if (SUCCEEDED(hr))
          opened->stream = *out;
        return hr;
      });
  if (int err = tap->capture->start(); err != 0) {
    std::fprintf(
        stderr, "pcmtap: process %lu of \"%s\" cannot be recorded: %s\n",
        static_cast<unsigned long>(pid), name_.c_str(), wasapi_error_text(err));
    done_.push_back(pid);
    return;
  }
  tap->from = std::max(written_, frames_in(clock_->now() - start_));
  taps_.push_back(std::move(tap));
}

// Everything the process's capture has now.
void ProgramCapture::take_from(Tap &tap) {
  const size_t frame = frame_bytes();
  const size_t most = tap.capture->max_read_frames();
  for (;;) {
    const size_t had = tap.held.size();
    tap.held.resize(had + most * frame);
    const long n = tap.capture->read(tap.held.data() + had, most, &lost_);
    tap.held.resize(had + size_t(std::max(n, 0L)) * frame);
    if (n < 0)
      error_ = int(n);
    if (n <= 0)
      return;
  }
}

void ProgramCapture::take_in() {
  if (clock_->now() - looked_ >= kLookTicks)
    look(clock_->now());
  for (auto &tap : taps_)
    if (tap->capture)
      take_from(*tap);
}

// How far the recording can go now: as far as every process recorded
// has reached, so that they stay in step, and where none is, as far as
// the clock has (and what ended ones left).
UINT64 ProgramCapture::ready(UINT64 now) const {
  UINT64 least = UINT64(-1), most = written_;
  for (auto &tap : taps_) {
    if (tap->capture)
      least = std::min(least, reach(*tap));
    most = std::max(most, reach(*tap));
  }
  if (least == UINT64(-1)) {
    const UINT64 due = now - start_ > kSilenceLagTicks
                           ? frames_in(now - start_ - kSilenceLagTicks)
                           : 0;
    least = std::max(most, due);
  }
  return least - written_;
}

// The sum of the processes, as a sink mixes them, silence where none was.
void ProgramCapture::mix(unsigned char *out, size_t frames) {
  const size_t frame = frame_bytes();
  std::memset(out, 0, frames * frame);
  for (auto &tap : taps_) {
    const UINT64 skip = tap->from - written_;
    if (skip >= frames)
      continue;
    const size_t n =
        size_t(std::min<UINT64>(frames - skip, tap->held.size() / frame));
    add_saturated(out + skip * frame, tap->held.data(), n * channels_);
    tap->held.erase(tap->held.begin(), tap->held.begin() + long(n * frame));
    tap->from += n;
  }
  written_ += frames;
  taps_.erase(std::remove_if(
                  taps_.begin(), taps_.end(),
                  [](auto &tap) { return !tap->capture && tap->held.empty(); }),
              taps_.end());
}

// The processes' streams are not waited on, each its own: the clock hands
// on what came, as often as a loopback's timer does.
int ProgramCapture::wait(const Wakeup &stop) {
  if (available() >= long(rate_ * kHandOnMillis / 1000))
    return 0;
  return clock_->wait(stop.handle(), kHandOnMillis) == WAIT_FAILED ? -EINVAL
                                                                   : 0;
}

long ProgramCapture::available() {
  take_in();
  return long(ready(clock_->now()));
}

long ProgramCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  if (!running_)
    return -EINVAL;
  take_in();
  lost->overrun_frames += std::exchange(lost_.overrun_frames, 0);
  lost->suspend_frames += std::exchange(lost_.suspend_frames, 0);
  const size_t n = size_t(std::min<UINT64>(ready(clock_->now()), max_frames));
  mix(static_cast<unsigned char *>(dst), n);
  if (n == 0 && error_ != 0)
    return std::exchange(error_, 0);
  return long(n);
}

} // namespace

std::unique_ptr<CaptureSource>
make_program_capture(unsigned rate, unsigned channels, std::string name,
                     std::shared_ptr<SessionApi> sessions,
                     ProcessStreamOpener open, std::shared_ptr<Clock> clock) {
  return std::make_unique<ProgramCapture>(rate, channels, std::move(name),
                                          std::move(sessions), std::move(open),
                                          std::move(clock));
}

} // namespace pcmtap
