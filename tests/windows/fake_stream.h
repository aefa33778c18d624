// Windows' audio engine running one capture stream, on a clock the test
// moves: every 10 ms period it hands over a packet of what the endpoint
// recorded (or played, for a loopback) in it, each frame the number of its
// position plus one.  It can do what Wine never does: give a loopback no
// packets while nothing plays, never fire its event (Windows before 10
// 1703), and drop what does not fit a full buffer, as Windows does, marking
// the next packet a discontinuity.  As a program's stream (a process
// loopback) it can start each stretch of sound at position 0, as a new
// stream of the program's, and have its process end.  Streams that share
// a clock run side by side, each from when it was made, its frames
// numbered by the clock.
#ifndef PCMTAP_TESTS_WINDOWS_FAKE_STREAM_H
#define PCMTAP_TESTS_WINDOWS_FAKE_STREAM_H

#include "wasapi/capture_stream.h"

#include <audioclient.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace pcmtap {

// A performance counter that moves only as the test, or a wait, moves it.
class FakeClock final : public Clock {
public:
  static const UINT64 kStartTicks = 987654321000;
  UINT64 ticks = 0; // since the start

  UINT64 now() override { return kStartTicks + ticks; }
  DWORD wait(HANDLE stop, DWORD millis) override {
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)
      return WAIT_OBJECT_0;
    ticks += UINT64{millis} * 10000;
    return WAIT_TIMEOUT;
  }
};

class FakeStream final : public CaptureStream {
public:
  static const UINT64 kTicksPerSecond = 10000000;

  explicit FakeStream(
      std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>())
      : clock_(std::move(clock)),
        made_(clock_->ticks * 44100 / kTicksPerSecond), stream_start_(made_) {}

  UINT32 buffer = 44100; // a second
  UINT32 period = 441;   // 10 ms
  bool event_fires = true;
  bool flags_discontinuity = true; // Windows Vista does not
  // Wine, under load, flags a packet whose frames follow on, and times it
  // by when it read it: the packet at this position, 5 ms late.
  UINT64 wine_flags_at = UINT64(-1);
  DWORD flags = 0; // on every packet, such as AUDCLNT_BUFFERFLAGS_SILENT
  // Whether anything plays in the period that begins at this time (in
  // frames since the clock's start); a period where nothing does brings no
  // packet.
  std::function<bool(UINT64 at)> plays = [](UINT64) { return true; };
  // Whether the position counts such periods too; where it does not, its
  // jump after a full stream is what was dropped alone.
  bool silence_moves_position = true;
  uint32_t mask = ~0u; // of each frame: 0xFFFF counts in the left channel

  // A program's: each stretch of sound after a silence a new stream, its
  // positions from 0; and its process ending at this position, after which
  // the stream fails with `after_end` where that is a failure.
  bool new_streams = false;
  UINT64 ends_at = UINT64(-1);
  HRESULT after_end = S_OK;

  UINT64 dropped = 0; // frames that did not fit the buffer

  HRESULT start() override { return S_OK; }
  void stop() override {}
  HRESULT buffer_frames(UINT32 *frames) override {
    *frames = buffer;
    return S_OK;
  }
  HRESULT padding(UINT32 *frames) override {
    advance_to(clock_->ticks);
    *frames = queued();
    return failing() ? after_end : S_OK;
  }
  HRESULT get_buffer(BYTE **data, UINT32 *frames, DWORD *packet_flags,
                     UINT64 *position, UINT64 *qpc) override {
    advance_to(clock_->ticks);
    if (failing())
      return after_end;
    if (taken_)
      return AUDCLNT_E_OUT_OF_ORDER;
    if (packets_.empty()) {
      *frames = 0;
      return AUDCLNT_S_BUFFER_EMPTY;
    }
    Packet &p = packets_.front();
    *data = reinterpret_cast<BYTE *>(p.frames.data());
    *frames = UINT32(p.frames.size());
    *packet_flags = p.flags;
    *position = p.position;
    *qpc = FakeClock::kStartTicks + ticks_of(p.at) +
           (p.at == wine_flags_at ? 50000 : 0);
    taken_ = true;
    return S_OK;
  }
  HRESULT release_buffer(UINT32 frames) override {
    if (!taken_ || (frames != 0 && frames != packets_.front().frames.size()))
      return AUDCLNT_E_INVALID_SIZE;
    taken_ = false;
    if (frames != 0)
      packets_.pop_front();
    return S_OK;
  }
  // The clock runs to the next packet, when the event fires for it, or
  // else for all of `millis`.
  DWORD wait(HANDLE stop, DWORD millis) override {
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)
      return WAIT_OBJECT_0 + 1;
    advance_to(clock_->ticks);
    const UINT64 until = clock_->ticks + UINT64{millis} * 10000;
    while (event_fires && !signalled_) {
      const UINT64 next = ticks_of(made_ + period);
      if (next > until)
        break;
      advance_to(next);
    }
    if (event_fires && signalled_) {
      signalled_ = false;
      return WAIT_OBJECT_0;
    }
    advance_to(until);
    return WAIT_TIMEOUT;
  }
  UINT64 now() override { return clock_->now(); }
  bool source_ended() override {
    advance_to(clock_->ticks);
    return made_ >= ends_at;
  }

  // Time passing with nobody reading.
  void advance(UINT64 millis) { advance_to(clock_->ticks + millis * 10000); }

private:
  struct Packet {
    UINT64 at; // the time it was recorded, in frames since the start
    UINT64 position;
    DWORD flags;
    std::vector<uint32_t> frames;
  };

  bool failing() const { return FAILED(after_end) && made_ >= ends_at; }

  static UINT64 ticks_of(UINT64 frames) {
    return frames * kTicksPerSecond / 44100;
  }
  UINT32 queued() const {
    UINT32 n = 0;
    for (const Packet &p : packets_)
      n += UINT32(p.frames.size());
    return n;
  }
  // Each period that has ended by then becomes a packet.
  void advance_to(UINT64 ticks) {
    clock_->ticks = ticks;
    while (ticks_of(made_ + period) <= ticks) {
      const UINT64 at = made_;
      made_ += period;
      if (!plays(at) || queued() + period > buffer) {
        if (plays(at))
          dropped += period;
        else if (new_streams)
          stream_start_ = made_;
        else if (!silence_moves_position)
          unplayed_ += period;
        discontinuity_ = true;
        continue;
      }
      Packet p{at, at - stream_start_ - unplayed_, flags,
               std::vector<uint32_t>(period)};
      for (UINT32 i = 0; i < period; ++i)
        p.frames[i] = uint32_t(at + i + 1) & mask;
      if ((discontinuity_ && flags_discontinuity) || at == wine_flags_at)
        p.flags |= AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
      discontinuity_ = false;
      packets_.push_back(std::move(p));
      signalled_ = true;
    }
  }

  std::shared_ptr<FakeClock> clock_;
  UINT64 made_;         // frames of the periods that have ended
  UINT64 unplayed_ = 0; // of them, those the position left out
  std::deque<Packet> packets_;
  bool taken_ = false;
  bool signalled_ = false;
  bool discontinuity_ = false;
  UINT64 stream_start_; // where the positions count from
};

} // namespace pcmtap

#endif
