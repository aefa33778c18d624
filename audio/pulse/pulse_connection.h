// One connection to the sound server: libpulse's plain main loop and a
// context on it, owned by whichever thread drives it.  Requests are run to
// their answer on the spot, so that the backends read as plain calls.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_CONNECTION_H
#define PCMTAP_AUDIO_PULSE_PULSE_CONNECTION_H

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

// Errors of this backend are negative: -errno, or a libpulse error code
// moved below every errno.
const int kPulseErrorBase = 10000;
inline int pulse_error(int pa_errno) { return -(kPulseErrorBase + pa_errno); }
const char *pulse_error_text(int err);

struct SourcePort {
  std::string name;
  std::string description;
  uint32_t type;    // pa_device_port_type_t where the server says
  bool unavailable; // nothing is plugged in
};

struct SourceState {
  std::string name;
  std::string description;
  // What the sound settings call its device: the source's description,
  // or from sources() its card's where it has a card.
  std::string device;
  uint32_t card = PA_INVALID_INDEX;
  bool monitor = false; // the monitor of a sink
  bool muted = false;
  std::vector<SourcePort> ports; // in the server's order
  std::string active_port;       // empty without ports
};

// A program that plays, as the sound settings name it: its streams'
// application.name, and the binary of its process to tell two apart.
struct ProgramKey {
  std::string name;
  std::string binary;
  bool operator==(const ProgramKey &o) const {
    return name == o.name && binary == o.binary;
  }
  bool operator<(const ProgramKey &o) const {
    return name != o.name ? name < o.name : binary < o.binary;
  }
};

// A sink input: one stream that a program plays, on a sink.
struct PlayingStream {
  uint32_t index;
  uint32_t sink;
  uint32_t client; // PA_INVALID_INDEX for a module's
  ProgramKey program;
};

struct ClientProgram {
  uint32_t index;
  ProgramKey program;
};

class PulseConnection {
public:
  // Connects to `server` (empty: libpulse's own choice, PULSE_SERVER among
  // it) without starting a server, giving up after `timeout_ms`.
  static int open(const std::string &server, unsigned timeout_ms,
                  std::unique_ptr<PulseConnection> *out);
  ~PulseConnection();
  PulseConnection(const PulseConnection &) = delete;
  PulseConnection &operator=(const PulseConnection &) = delete;

  pa_mainloop *mainloop() const { return mainloop_; }
  pa_context *context() const { return context_; }
  // The connection's error, or `fallback` while the connection is good.
  int error(int fallback) const;
  // Makes a round of the loop end when `fd` becomes readable too (a stop
  // notified); a later call with another fd replaces it.
  void watch_stop(int fd);
  void unwatch_stop();

  // Runs the loop until `done()` holds or the connection fails; false on
  // failure.
  bool run_until(const std::function<bool()> &done);
  // Runs `op` to its end; false when the connection failed first.
  bool finish(pa_operation *op);

  // Whether the server has a sink to play to.
  bool has_default_sink();
  // The default sink's description and the name of its monitor source;
  // false without a default sink.
  bool default_sink(std::string *description, std::string *monitor);
  // Every source the server has, monitors among them, in its order.
  int sources(std::vector<SourceState> *out);
  // The source's state now; "@DEFAULT_SOURCE@" names the server's default.
  // Negative error when there is no such source.
  int source_state(const std::string &name, SourceState *out);
  // Every stream that plays, and the program of every client on the
  // server (those that play nothing among them).
  int programs(std::vector<PlayingStream> *streams,
               std::vector<ClientProgram> *clients);
  // The name of the monitor source of sink `index`; empty when it has none.
  std::string sink_monitor(uint32_t index);
  // Whether the server took the change.
  bool set_source_port(const std::string &source, const std::string &port);
  bool set_source_mute(const std::string &source, bool muted);

private:
  PulseConnection(pa_mainloop *mainloop, pa_context *context);

  pa_mainloop *mainloop_;
  pa_context *context_;
  pa_io_event *stop_event_ = nullptr;
  int stop_fd_ = -1;
};

} // namespace pcmtap

#endif
