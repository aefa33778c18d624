// A program that plays counting frames into a sound server's default sink,
// stream after stream on one connection, as a music player plays song
// after song:
//   stream_player NAME BINARY LATENCY_MS FIRST:FRAMES[:PAUSE_MS[:L|R]]...
// Each stream plays FRAMES counting frames from FIRST, is drained and
// closed, and the next one opens PAUSE_MS later.  With L or R, only that
// channel counts (the count's low 16 bits), the other is silent.  NAME and
// BINARY (empty: libpulse's own) are its application.name and
// application.process.binary; it asks to play LATENCY_MS ahead. After the last
// stream it stays on the server until its standard input ends.  It prints
// "paused S" with the seconds between the end of one stream's drain and the
// start of the next.
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Segment {
  uint32_t first;
  size_t frames;
  unsigned pause_ms;
  uint32_t mask = 0xffffffff;
  unsigned shift = 0;
};

struct Player {
  pa_mainloop *loop;
  pa_context *context;
  pa_proplist *props;
  std::vector<Segment> segments;
  unsigned latency_ms = 100;
  size_t next = 0; // the segment playing, or to play
  size_t written = 0;
  pa_stream *stream = nullptr;
  pa_usec_t drained_at = 0;
  int status = 0;
};

void fail(Player *p, const char *what) {
  std::fprintf(stderr, "stream_player: %s: %s\n", what,
               pa_strerror(pa_context_errno(p->context)));
  p->status = 1;
  pa_mainloop_quit(p->loop, 1);
}

void open_stream(Player *p);

void on_pause_over(pa_mainloop_api *, pa_time_event *, const timeval *,
                   void *player) {
  auto *p = static_cast<Player *>(player);
  std::printf("paused %.3f\n",
              double(pa_rtclock_now() - p->drained_at) / PA_USEC_PER_SEC);
  std::fflush(stdout);
  open_stream(p);
}

void on_drained(pa_stream *s, int, void *player) {
  auto *p = static_cast<Player *>(player);
  p->drained_at = pa_rtclock_now();
  pa_stream_disconnect(s);
  pa_stream_unref(s);
  p->stream = nullptr;
  const unsigned pause = p->segments[p->next].pause_ms;
  if (++p->next == p->segments.size())
    return; // stays until standard input ends
  pa_context_rttime_new(p->context,
                        p->drained_at + pa_usec_t{pause} * PA_USEC_PER_MSEC,
                        on_pause_over, p);
}

void on_writable(pa_stream *s, size_t bytes, void *player) {
  auto *p = static_cast<Player *>(player);
  const Segment &seg = p->segments[p->next];
  size_t frames = std::min(bytes / 4, seg.frames - p->written);
  if (frames == 0)
    return;
  std::vector<uint32_t> data(frames);
  for (size_t i = 0; i < frames; ++i)
    data[i] = ((seg.first + uint32_t(p->written + i)) & seg.mask) << seg.shift;
  if (pa_stream_write(s, data.data(), frames * 4, nullptr, 0,
                      PA_SEEK_RELATIVE) < 0)
    return fail(p, "write");
  p->written += frames;
  if (p->written == seg.frames) {
    pa_stream_set_write_callback(s, nullptr, nullptr);
    pa_operation_unref(pa_stream_drain(s, on_drained, p));
  }
}

void open_stream(Player *p) {
  const pa_sample_spec format = {PA_SAMPLE_S16LE, 44100, 2};
  p->written = 0;
  p->stream = pa_stream_new_with_proplist(p->context, "counting", &format,
                                          nullptr, p->props);
  pa_stream_set_write_callback(p->stream, on_writable, p);
  // Little ahead, as players that follow a picture ask: the sink renders
  // little before it plays, and a monitor opened on the stream soon after
  // it began records nearly all of it.
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);
  attr.tlength = uint32_t(
      pa_usec_to_bytes(pa_usec_t{p->latency_ms} * PA_USEC_PER_MSEC, &format));
  if (pa_stream_connect_playback(p->stream, nullptr, &attr,
                                 PA_STREAM_ADJUST_LATENCY, nullptr,
                                 nullptr) < 0)
    fail(p, "connect stream");
}

void on_context(pa_context *c, void *player) {
  auto *p = static_cast<Player *>(player);
  pa_context_state_t state = pa_context_get_state(c);
  if (state == PA_CONTEXT_READY)
    open_stream(p);
  else if (!PA_CONTEXT_IS_GOOD(state))
    fail(p, "connect");
}

void on_stdin(pa_mainloop_api *, pa_io_event *, int fd, pa_io_event_flags_t,
              void *player) {
  char c[256];
  if (read(fd, c, sizeof c) <= 0)
    pa_mainloop_quit(static_cast<Player *>(player)->loop, 0);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: stream_player NAME BINARY LATENCY_MS "
                         "FIRST:FRAMES[:PAUSE_MS]...\n");
    return 2;
  }
  Player p{pa_mainloop_new(), nullptr, pa_proplist_new(), {}};
  pa_proplist_sets(p.props, PA_PROP_APPLICATION_NAME, argv[1]);
  if (*argv[2])
    pa_proplist_sets(p.props, PA_PROP_APPLICATION_PROCESS_BINARY, argv[2]);
  p.latency_ms = unsigned(std::strtoul(argv[3], nullptr, 10));
  for (int i = 4; i < argc; ++i) {
    char *end;
    Segment seg{uint32_t(std::strtoul(argv[i], &end, 0)), 0, 0};
    seg.frames = std::strtoul(end + 1, &end, 0);
    seg.pause_ms = *end == ':' ? unsigned(std::strtoul(end + 1, &end, 0)) : 0;
    if (*end == ':') {
      seg.mask = 0xffff;
      seg.shift = end[1] == 'R' ? 16 : 0;
    }
    p.segments.push_back(seg);
  }
  pa_mainloop_api *api = pa_mainloop_get_api(p.loop);
  p.context = pa_context_new_with_proplist(api, argv[1], p.props);
  pa_context_set_state_callback(p.context, on_context, &p);
  api->io_new(api, 0, PA_IO_EVENT_INPUT, on_stdin, &p);
  if (pa_context_connect(p.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) <
      0)
    fail(&p, "connect");
  int status = 0;
  pa_mainloop_run(p.loop, &status);
  pa_context_set_state_callback(p.context, nullptr, nullptr);
  if (p.stream) {
    pa_stream_disconnect(p.stream);
    pa_stream_unref(p.stream);
  }
  pa_context_disconnect(p.context);
  // Everything freed, so that a leak checker's status is the player's.
  pa_context_unref(p.context);
  pa_proplist_free(p.props);
  pa_mainloop_free(p.loop);
  return p.status != 0 ? p.status : status;
}
