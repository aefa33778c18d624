// A private PulseAudio server for tests: its own temporary directory, socket
// and configuration, so that tests reach it and no other server.
#ifndef PCMTAP_TESTS_SUPPORT_PULSE_SERVER_H
#define PCMTAP_TESTS_SUPPORT_PULSE_SERVER_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pcmtap::test {

struct ProcessResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out; // everything the child wrote to stdout
  std::string err; // everything the child wrote to stderr
};

// Runs argv[0] (looked up in this process's PATH) with exactly the
// environment `env` ("NAME=value" entries), stdin from /dev/null, and
// collects its output. A child still running after `timeout` is killed
// (status 128 + SIGKILL); this is a guard against hangs, not a speed check.
ProcessResult
run_process(const std::vector<std::string> &argv,
            const std::vector<std::string> &env,
            std::chrono::milliseconds timeout = std::chrono::seconds(20));

// What a server needs beyond its script, decided once its directory exists.
struct ServerSetup {
  std::vector<std::string> script_lines; // run after the constructor's
  // Extra "NAME=value" entries for the server process only (e.g.
  // ALSA_CONFIG_PATH, LD_PRELOAD); not for the clients and tools.
  std::vector<std::string> environment;
  // Server log lines "E: ..." that hold one of these are not failures.
  std::vector<std::string> expected_errors;
};

// Forks and execs argv[0] (looked up in this process's PATH) with exactly
// `env`, stdin from /dev/null and stdout and stderr on the given
// descriptors; with `die_with_parent` it is killed when the creating thread
// exits.
pid_t spawn(const std::vector<std::string> &argv,
            const std::vector<std::string> &env, int out_fd, int err_fd,
            bool die_with_parent);

// Runs `pactl --server=<socket> <args>` (args go through /bin/sh) with
// `env` and returns its stdout; throws std::runtime_error with its stderr
// on a non-zero status.
std::string pactl_at(const std::string &socket,
                     const std::vector<std::string> &env,
                     const std::string &args);

// Waits until `pactl("list short sink-inputs")` lists `count` streams (or
// more) that play, for about 20 s at most; false if they did not come.
bool wait_for_playing_streams(
    const std::function<std::string(const std::string &)> &pactl, size_t count);

class PulseServer {
public:
  // Starts pulseaudio in a fresh temporary directory that serves as its
  // HOME and XDG_RUNTIME_DIR, listening on <dir>/native with anonymous
  // authentication, then runs `script_lines` (PulseAudio script commands,
  // e.g. "load-module module-sine-source source_name=tone"). Returns once
  // the server answers `pactl info`. Throws std::runtime_error, with the
  // server's log in the message, if it exits or does not answer in ~20 s.
  //
  // The server is killed if the thread that created it exits, so create
  // it on a thread that outlives the object (e.g. the test's own thread).
  //
  // If `setup` is given, it runs first with the new directory (the
  // server's HOME) and writes whatever the server needs there.
  explicit PulseServer(
      const std::vector<std::string> &script_lines,
      const std::function<ServerSetup(const std::string &dir)> &setup = {});
  ~PulseServer(); // SIGTERM, then SIGKILL; reaps it; removes the directory

  PulseServer(const PulseServer &) = delete;
  PulseServer &operator=(const PulseServer &) = delete;

  // Kills the server at once with SIGKILL and reaps it, for tests of a
  // server that dies under a client. The directory stays until destruction.
  void kill_now();

  std::string socket() const; // "unix:<dir>/native"
  std::string dir() const;
  pid_t pid() const; // the server's pid, or -1 once it has been reaped

  // Writes <dir>/asound.conf, a stand-alone ALSA configuration (it does not
  // include the system's alsa.conf) whose default pcm and ctl are this
  // server. Returns its path, for ALSA_CONFIG_PATH.
  std::string write_alsa_config() const;

  // Runs `pactl --server=<socket> <args>` (args go through /bin/sh, so they
  // may be quoted) and returns its stdout; throws std::runtime_error with
  // its stderr on a non-zero status.
  std::string pactl(const std::string &args) const;

  // What a child process needs to reach this server and no other:
  // PULSE_SERVER, XDG_RUNTIME_DIR, HOME and ALSA_CONFIG_PATH (writing the
  // file of write_alsa_config()).
  std::vector<std::string> environment() const;

private:
  void stop(); // SIGTERM, grace period, SIGKILL, reap
  std::vector<std::string> tool_environment() const;
  std::string log() const;
  bool log_has_errors(const std::vector<std::string> &expected) const;

  std::string dir_;
  pid_t pid_ = -1;
};

} // namespace pcmtap::test

#endif
