// A private PipeWire with its PulseAudio-protocol server, for tests: the
// daemons run from the folder scripts/pipewire-root unpacks, each in one
// temporary directory of their own, so tests reach them and no other server.
#ifndef PCMTAP_TESTS_SUPPORT_PIPEWIRE_SERVER_H
#define PCMTAP_TESTS_SUPPORT_PIPEWIRE_SERVER_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pcmtap::test {

class PipewireServer {
public:
  // Starts a session bus (WirePlumber exits without one), pipewire at
  // 44,100 Hz, wireplumber and pipewire-pulse in a fresh temporary
  // directory that is their HOME and XDG_RUNTIME_DIR; clients reach it at
  // socket(). Returns once pactl can set defaults. Throws
  // std::runtime_error, with the daemons' logs in the message, if one exits
  // or it is not ready in ~20 s.
  //
  // The daemons are killed if the thread that created them exits, so
  // create this on a thread that outlives the object.
  // The graph's period, in frames; 0 leaves it to the clients.
  explicit PipewireServer(unsigned quantum = 16384);
  ~PipewireServer(); // SIGTERM, then SIGKILL; reaps all; removes the directory

  PipewireServer(const PipewireServer &) = delete;
  PipewireServer &operator=(const PipewireServer &) = delete;

  // Kills pipewire-pulse at once with SIGKILL and reaps it, for tests of a
  // server that dies under a client. The rest stays until destruction.
  void kill_now();

  std::string socket() const; // "unix:<dir>/pulse/native"
  std::string dir() const;
  // The daemons' pids, those not yet reaped.
  std::vector<pid_t> pids() const;

  // Runs `pactl --server=<socket> <args>` (args go through /bin/sh) and
  // returns its stdout; throws std::runtime_error with its stderr on a
  // non-zero status.
  std::string pactl(const std::string &args) const;

  // What a child process needs to reach this server and no other:
  // PULSE_SERVER, XDG_RUNTIME_DIR, HOME and ALSA_CONFIG_PATH (a stand-alone
  // configuration, written into the directory, whose default pcm and ctl
  // are this server).
  std::vector<std::string> environment() const;

private:
  struct Daemon {
    std::string name; // also names its log, <dir>/<name>.log
    pid_t pid = -1;
  };

  using Milliseconds = std::chrono::milliseconds;
  void start(const std::string &name, const std::vector<std::string> &argv);
  // Until `ready(time left)`; throws when a daemon exits or time runs out.
  void wait_until(const std::string &what,
                  const std::function<bool(Milliseconds)> &ready);
  void stop();
  std::vector<std::string> daemon_environment() const;
  std::string logs() const;

  std::string dir_;
  std::vector<Daemon> daemons_; // in the order they started
};

} // namespace pcmtap::test

#endif
