#include "program_capture.h"

#include "../engine/followed_program.h"
#include "pulse_inputs.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace pcmtap {
namespace {

// Pieces of 200 ms: 50 ms would set PipeWire's period to 2,048 frames, on
// which PipeWire 0.3.65 now and then drops a period of a stream's monitor
// (and puts a silent one in its place).
const pa_usec_t kPieceUsec = 200 * PA_USEC_PER_MSEC;
const size_t kMaxReadFrames = 16384;
// What the server keeps for each stream while nobody reads it, 23.8 s.
const uint32_t kServerQueueBytes = uint32_t{1} << 22;
const unsigned kConnectMillis = 5000;
const uint64_t kMillisNs = 1000000;
// A monitor of a stream gives audio all the while the stream is on a
// sink that runs, silence included: one that has given nothing for this
// long has stopped (its sink suspended), and time is kept with silence.
const uint64_t kStalledNs = 1000 * kMillisNs;
// A new monitor's first piece can take long to come (PulseAudio's null
// sink sends it up to 2 s late), and it holds the audio from the start:
// no silence is written while one is awaited, up to this long.
const uint64_t kFirstPieceNs = 3000 * kMillisNs;
// Silence is written up to this long before now, since audio recorded
// just before now may still be on its way.
const uint64_t kSilenceLagNs = 10 * kMillisNs;
// Silence goes out in pieces of about this long, as audio does; while a
// stream plays, the wait only makes sure a stall is seen.
const unsigned kSilencePieceMillis = 40;
const unsigned kAwaitMillis = 250;
// One stream that has this much (more than two pieces) while another has
// nothing goes on without it: the other's sink has stopped, or is late.
const unsigned kLagMillis = 500;

uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

class ProgramCapture final : public CaptureSource {
public:
  ProgramCapture(std::string server, std::string name, unsigned rate,
                 unsigned channels)
      : server_(std::move(server)), name_(std::move(name)), rate_(rate),
        channels_(channels),
        presence_(name_, "has gone from the sound server") {}
  ~ProgramCapture() override { stop(); }
  ProgramCapture(const ProgramCapture &) = delete;
  ProgramCapture &operator=(const ProgramCapture &) = delete;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override { return kMaxReadFrames; }
  unsigned buffer_millis() const override {
    return unsigned(uint64_t{kServerQueueBytes} * 1000 /
                    (uint64_t{rate_} * frame_bytes()));
  }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;
  const char *error_text(int err) const override {
    return pulse_error_text(err);
  }

private:
  // A record stream on the monitor of one of the program's streams, and
  // what it gave that is not mixed yet.
  struct Tap {
    ProgramCapture *owner;
    uint32_t sink_input;
    pa_stream *stream = nullptr;
    std::vector<unsigned char> held;
    size_t start = 0;
    bool delivered = false; // it has given audio: the mix waits for it
    uint64_t attached_ns = 0;

    ~Tap() { close(); }
    void close();
    bool alive() const;
    size_t frames() const {
      return (held.size() - start) / owner->frame_bytes();
    }
  };

  static void on_event(pa_context *, pa_subscription_event_type_t, uint32_t,
                       void *self);
  static void on_readable(pa_stream *, size_t, void *tap);
  static void on_state(pa_stream *stream, void *tap);
  void follow();
  void attach(const PlayingStream &stream);
  void take_in(Tap &tap);
  bool any_alive() const;
  size_t mixable_frames() const;
  void mix(unsigned char *dst, size_t frames);
  uint64_t silence_due(uint64_t now) const;
  bool awaited(uint64_t now) const;
  uint64_t frames_in(uint64_t ns) const { return ns * rate_ / 1000000000u; }
  int connection_error() const;
  void take_events();

  const std::string server_;
  const std::string name_;
  const unsigned rate_;
  const unsigned channels_;
  std::unique_ptr<PulseConnection> connection_;
  std::vector<std::unique_ptr<Tap>> taps_;
  bool changed_ = false; // the server said the streams or clients changed
  ProgramPresence presence_;
  uint64_t hole_frames_ = 0;
  // Every client seen playing the program's streams since it came: it has
  // gone once none of them is left.
  std::vector<uint32_t> clients_;
  // The recording's time line: its audio reaches to when the last piece
  // came, `audio_end_ns_`, and the silence written since follows it, up
  // to when the program's next stream began (its monitor opened).
  uint64_t audio_end_ns_ = 0;
  uint64_t silence_written_ = 0;
};

void ProgramCapture::Tap::close() {
  if (!stream)
    return;
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  if (pa_stream_get_state(stream) == PA_STREAM_READY)
    pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

bool ProgramCapture::Tap::alive() const {
  if (!stream)
    return false;
  pa_stream_state_t state = pa_stream_get_state(stream);
  return state == PA_STREAM_READY || state == PA_STREAM_CREATING;
}

int ProgramCapture::start() {
  stop();
  if (!connection_) {
    if (int err = PulseConnection::open(server_, kConnectMillis, &connection_);
        err < 0)
      return err;
    pa_context_set_subscribe_callback(connection_->context(), on_event, this);
    auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                       PA_SUBSCRIPTION_MASK_CLIENT);
    if (!connection_->finish(pa_context_subscribe(connection_->context(), mask,
                                                  nullptr, nullptr)))
      return connection_error();
  }
  presence_.restart();
  hole_frames_ = silence_written_ = 0;
  audio_end_ns_ = now_ns();
  clients_.clear();
  follow();
  return connection_error();
}

void ProgramCapture::stop() {
  if (!connection_)
    return;
  connection_->unwatch_stop();
  taps_.clear();
}

int ProgramCapture::connection_error() const {
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(connection_->context())))
    return connection_->error(pulse_error(PA_ERR_CONNECTIONTERMINATED));
  return 0;
}

void ProgramCapture::on_event(pa_context *, pa_subscription_event_type_t,
                              uint32_t, void *self) {
  static_cast<ProgramCapture *>(self)->changed_ = true;
}

void ProgramCapture::on_readable(pa_stream *, size_t, void *tap_ptr) {
  auto *tap = static_cast<Tap *>(tap_ptr);
  tap->owner->take_in(*tap);
}

// The server ends a monitor whose stream ended or moved to another sink.
void ProgramCapture::on_state(pa_stream *stream, void *tap_ptr) {
  pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
    static_cast<Tap *>(tap_ptr)->owner->changed_ = true;
}

// Follows the program: a monitor on each stream it plays that has none,
// none on a stream that ended, and says when it comes and once no client
// and no stream of it is left.  What an ended stream gave is still mixed.
void ProgramCapture::follow() {
  changed_ = false;
  std::vector<PlayingStream> streams;
  std::vector<ClientProgram> clients;
  if (connection_->programs(&streams, &clients) < 0)
    return; // the connection failed: the next read says so
  bool plays = false;
  for (const PlayingStream &stream : streams) {
    if (!goes_by(stream.program, name_))
      continue;
    plays = true;
    if (std::find(clients_.begin(), clients_.end(), stream.client) ==
        clients_.end())
      clients_.push_back(stream.client);
    bool tapped = std::any_of(taps_.begin(), taps_.end(), [&](const auto &t) {
      return t->sink_input == stream.index && t->alive();
    });
    if (!tapped)
      attach(stream);
  }
  for (auto &tap : taps_) {
    bool playing = std::any_of(streams.begin(), streams.end(), [&](auto &s) {
      return s.index == tap->sink_input;
    });
    if (!playing || !tap->alive())
      tap->close();
  }
  taps_.erase(std::remove_if(taps_.begin(), taps_.end(),
                             [](const auto &t) {
                               return !t->alive() && t->frames() == 0;
                             }),
              taps_.end());
  // A client that names its streams otherwise than itself is followed by
  // its index.
  bool here =
      plays || std::any_of(clients.begin(), clients.end(), [&](auto &c) {
        return goes_by(c.program, name_) ||
               std::find(clients_.begin(), clients_.end(), c.index) !=
                   clients_.end();
      });
  if (presence_.update(plays, here))
    clients_.clear();
}

// The monitor source is named: without a name libpulse would ask for
// PULSE_SOURCE's, which the server refuses for another sink's stream.
void ProgramCapture::attach(const PlayingStream &playing) {
  const std::string monitor = connection_->sink_monitor(playing.sink);
  pa_sample_spec format = {PA_SAMPLE_S16LE, rate_, uint8_t(channels_)};
  auto tap = std::make_unique<Tap>();
  tap->owner = this;
  tap->sink_input = playing.index;
  tap->attached_ns = now_ns();
  tap->stream =
      pa_stream_new(connection_->context(), "pcmtap", &format, nullptr);
  if (!tap->stream ||
      pa_stream_set_monitor_stream(tap->stream, playing.index) < 0)
    return;
  pa_stream_set_read_callback(tap->stream, on_readable, tap.get());
  pa_stream_set_state_callback(tap->stream, on_state, tap.get());
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr); // -1: the server's choice
  attr.fragsize = uint32_t(pa_usec_to_bytes(kPieceUsec, &format));
  attr.maxlength = kServerQueueBytes;
  auto flags =
      pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(tap->stream,
                               monitor.empty() ? nullptr : monitor.c_str(),
                               &attr, flags) < 0)
    return;
  taps_.push_back(std::move(tap));
}

// Takes what libpulse holds for the stream; a hole the server left in it
// is audio lost.
void ProgramCapture::take_in(Tap &tap) {
  if (pa_stream_get_state(tap.stream) != PA_STREAM_READY)
    return;
  // What was mixed goes: a stream ahead of the others always keeps some.
  tap.held.erase(tap.held.begin(), tap.held.begin() + long(tap.start));
  tap.start = 0;
  size_t came = 0;
  for (;;) {
    const void *data;
    size_t size;
    if (pa_stream_peek(tap.stream, &data, &size) < 0 || size == 0)
      break;
    if (data) {
      const auto *bytes = static_cast<const unsigned char *>(data);
      tap.held.insert(tap.held.end(), bytes, bytes + size);
      came += size;
    } else {
      hole_frames_ += size / frame_bytes();
    }
    pa_stream_drop(tap.stream);
  }
  if (came == 0)
    return;
  tap.delivered = true;
  audio_end_ns_ = now_ns();
  silence_written_ = 0;
}

// A new monitor's first piece is on its way.
bool ProgramCapture::awaited(uint64_t now) const {
  return std::any_of(taps_.begin(), taps_.end(), [&](const auto &t) {
    return t->alive() && !t->delivered && now - t->attached_ns < kFirstPieceNs;
  });
}

bool ProgramCapture::any_alive() const {
  return std::any_of(taps_.begin(), taps_.end(),
                     [](const auto &t) { return t->alive(); });
}

// What can be mixed now: as much as every stream that gives audio has,
// so that the streams stay in step; what ended streams left goes out
// whole.
size_t ProgramCapture::mixable_frames() const {
  size_t most = 0, least = SIZE_MAX;
  for (const auto &tap : taps_) {
    most = std::max(most, tap->frames());
    if (tap->alive() && tap->delivered)
      least = std::min(least, tap->frames());
  }
  if (least == SIZE_MAX || least > 0)
    return least == SIZE_MAX ? most : least;
  return most >= size_t{rate_} * kLagMillis / 1000 ? most : 0;
}

// The sum of the streams, as the sink mixes them.
void ProgramCapture::mix(unsigned char *dst, size_t frames) {
  const size_t frame = frame_bytes();
  bool first = true;
  for (auto &tap : taps_) {
    size_t n = std::min(frames, tap->frames());
    if (n == 0)
      continue;
    const unsigned char *src = tap->held.data() + tap->start;
    if (first) {
      std::memcpy(dst, src, n * frame);
      std::memset(dst + n * frame, 0, (frames - n) * frame);
      first = false;
    } else {
      add_saturated(dst, src, n * channels_);
    }
    tap->start += n * frame;
  }
}

// The silence due by now: while no stream of the program gives audio,
// the time since the recording's last frame.
uint64_t ProgramCapture::silence_due(uint64_t now) const {
  if (mixable_frames() != 0 || awaited(now))
    return 0;
  const bool giving = std::any_of(taps_.begin(), taps_.end(), [](auto &t) {
    return t->alive() && t->delivered;
  });
  if (giving && now - audio_end_ns_ < kStalledNs)
    return 0;
  const uint64_t until = now - kSilenceLagNs;
  if (until <= audio_end_ns_)
    return 0;
  const uint64_t due = frames_in(until - audio_end_ns_);
  return due - std::min(due, silence_written_);
}

// Takes in what reached us, and follows the program where it changed.
void ProgramCapture::take_events() {
  pa_mainloop_iterate(connection_->mainloop(), 0, nullptr);
  if (changed_)
    follow();
}

int ProgramCapture::wait(const Wakeup &stop) {
  const uint64_t piece = uint64_t{rate_} * kSilencePieceMillis / 1000;
  if (mixable_frames() != 0 || silence_due(now_ns()) >= piece)
    return 0;
  connection_->watch_stop(stop.fd());
  // One round of the loop: until the server sends something, the stop
  // comes, or the next piece of silence is due; while streams play, a
  // stall of theirs is when silence would begin.
  const int timeout_us = int(
      (any_alive() ? kAwaitMillis : kSilencePieceMillis) * PA_USEC_PER_MSEC);
  pa_mainloop *loop = connection_->mainloop();
  if (pa_mainloop_prepare(loop, timeout_us) < 0 || pa_mainloop_poll(loop) < 0 ||
      pa_mainloop_dispatch(loop) < 0)
    return -EIO;
  if (changed_)
    follow();
  return mixable_frames() != 0 ? 0 : connection_error();
}

long ProgramCapture::available() {
  take_events();
  return long(mixable_frames() + silence_due(now_ns()));
}

long ProgramCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  take_events();
  for (auto &tap : taps_)
    if (tap->alive())
      take_in(*tap);
  lost->overrun_frames += std::exchange(hole_frames_, 0);
  auto *out = static_cast<unsigned char *>(dst);
  const size_t frame = frame_bytes();
  size_t done = std::min(mixable_frames(), max_frames);
  mix(out, done);
  if (done < max_frames) {
    size_t zeros =
        size_t(std::min<uint64_t>(silence_due(now_ns()), max_frames - done));
    std::memset(out + done * frame, 0, zeros * frame);
    silence_written_ += zeros;
    done += zeros;
  }
  if (done == 0)
    return connection_error();
  return long(done);
}

} // namespace

std::unique_ptr<CaptureSource> make_program_capture(std::string server,
                                                    std::string name,
                                                    unsigned rate,
                                                    unsigned channels) {
  return std::make_unique<ProgramCapture>(std::move(server), std::move(name),
                                          rate, channels);
}

} // namespace pcmtap
