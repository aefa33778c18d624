// Runs the daemons of a private PipeWire; see pipewire_server.h.
#include "pipewire_server.h"

#include "pulse_server.h" // run_process

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pcmtap::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

std::runtime_error sys_error(const std::string &what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// The folder's multiarch library directory (usr/lib/x86_64-linux-gnu on
// amd64), found rather than assumed.
std::string library_dir() {
  const fs::path usr_lib = fs::path(PIPEWIRE_ROOT) / "usr/lib";
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(usr_lib, error)) {
    if (fs::exists(entry.path() / "libpipewire-0.3.so.0"))
      return entry.path().string();
  }
  throw std::runtime_error(std::string("no PipeWire in ") + PIPEWIRE_ROOT +
                           " (run scripts/pipewire-root)");
}

void write_text(const std::string &path, const std::string &text) {
  std::ofstream file(path);
  file << text;
  if (!file.flush())
    throw std::runtime_error("cannot write " + path);
}

// pipewire reads its configuration from one folder: the unpacked one's
// files, linked, and a drop-in that sets the graph's rate and period.
//
// The graph runs on a timer, one period (quantum) of frames a cycle, and
// every node has until the next cycle to be done. When the whole machine
// pauses for longer than a period (a loaded virtual machine does, for
// 50 to 150 ms every few seconds, whatever the threads' priority), the
// timer fires the cycles it missed back to back, the nodes in
// pipewire-pulse are late ("client too slow" in pipewire's log), and a
// period of audio is lost before any client sees it, another replaced by
// silence. A period of 16384 frames, 0.37 s, outlasts such pauses, so a
// recording client loses only what it loses itself.  A `quantum` of 0
// leaves the period to the clients, as on a desktop.
void write_pipewire_config(const std::string &config_dir, unsigned quantum) {
  fs::create_directories(config_dir + "/pipewire.conf.d");
  const fs::path shipped = fs::path(PIPEWIRE_ROOT) / "usr/share/pipewire";
  for (const auto &entry : fs::directory_iterator(shipped))
    fs::create_symlink(entry.path(), config_dir / entry.path().filename());
  std::string clock = "  default.clock.rate = 44100\n"
                      "  default.clock.allowed-rates = [ 44100 ]\n";
  if (quantum) {
    const std::string q = std::to_string(quantum);
    const std::string limit = "  default.clock.quantum-limit = " + q + "\n";
    clock += "  default.clock.quantum = " + q +
             "\n  default.clock.min-quantum = " + q +
             "\n  default.clock.max-quantum = " + q + "\n" + limit;
    // pipewire-pulse sizes its nodes' buffers by its own limit: smaller, a
    // node would fill only part of each period.
    fs::create_directories(config_dir + "/pipewire-pulse.conf.d");
    write_text(config_dir + "/pipewire-pulse.conf.d/quantum.conf",
               "context.properties = {\n" + limit + "}\n");
  }
  write_text(config_dir + "/pipewire.conf.d/rate.conf",
             "context.properties = {\n" + clock + "}\n");
}

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `argv` (a path) with its output in `log_path`.
pid_t spawn(const std::vector<std::string> &argv,
            const std::vector<std::string> &env, const std::string &log_path) {
  const int log_fd =
      ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log_fd < 0)
    throw sys_error("open " + log_path);
  try {
    const pid_t pid = pcmtap::test::spawn(argv, env, log_fd, log_fd, true);
    ::close(log_fd);
    return pid;
  } catch (...) {
    ::close(log_fd);
    throw;
  }
}

bool exited(pid_t pid) {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return r != 0;
}

void reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

bool is_socket(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

PipewireServer::PipewireServer(unsigned quantum) {
  std::string templ = "/tmp/pcmtap-pipewire-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr)
    throw sys_error("mkdtemp " + templ);
  dir_ = templ;
  try {
    write_pipewire_config(dir_ + "/config", quantum);
    const std::string server = "\"" + socket() + "\"";
    write_text(dir_ + "/asound.conf", "pcm.!default { type pulse server " +
                                          server +
                                          " }\nctl.!default { type pulse "
                                          "server " +
                                          server + " }\n");
    const std::string bin = std::string(PIPEWIRE_ROOT) + "/usr/bin/";
    // Each needs the one before it: pipewire the bus, the rest pipewire.
    start("dbus", {"/usr/bin/dbus-daemon", "--session", "--nofork",
                   "--nopidfile", "--address=unix:path=" + dir_ + "/bus"});
    wait_until("the session bus",
               [&](Milliseconds) { return is_socket(dir_ + "/bus"); });
    start("pipewire", {bin + "pipewire"});
    wait_until("pipewire",
               [&](Milliseconds) { return is_socket(dir_ + "/pipewire-0"); });
    start("wireplumber", {bin + "wireplumber"});
    start("pipewire-pulse", {bin + "pipewire-pulse"});
    // Defaults live in metadata that wireplumber makes; until it has,
    // pipewire-pulse answers but refuses set-default-source ("Not
    // supported"). Its own always-present sink serves to try.
    wait_until("pipewire-pulse and wireplumber", [&](Milliseconds left) {
      return run_process({"pactl", "--server=" + socket(), "set-default-sink",
                          "auto_null"},
                         daemon_environment(), left)
                 .status == 0;
    });
  } catch (...) {
    stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    throw;
  }
}

PipewireServer::~PipewireServer() {
  stop();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void PipewireServer::start(const std::string &name,
                           const std::vector<std::string> &argv) {
  daemons_.push_back(
      {name, spawn(argv, daemon_environment(), dir_ + "/" + name + ".log")});
}

void PipewireServer::wait_until(
    const std::string &what, const std::function<bool(Milliseconds)> &ready) {
  const auto deadline = Clock::now() + kStartTimeout;
  for (;;) {
    for (Daemon &d : daemons_) {
      if (exited(d.pid)) {
        d.pid = -1;
        throw std::runtime_error(d.name + " exited:\n" + logs());
      }
    }
    const auto left =
        std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      throw std::runtime_error(what + " did not start within " +
                               std::to_string(kStartTimeout.count()) + " s:\n" +
                               logs());
    if (ready(left))
      return;
    std::this_thread::sleep_for(kPollInterval);
  }
}

void PipewireServer::stop() {
  // The last started first, so that none sees the one it needs go away.
  for (auto d = daemons_.rbegin(); d != daemons_.rend(); ++d) {
    if (d->pid < 0)
      continue;
    ::kill(d->pid, SIGTERM);
    const auto deadline = Clock::now() + kStopGrace;
    while (!exited(d->pid)) {
      if (Clock::now() >= deadline) {
        ::kill(d->pid, SIGKILL);
        reap(d->pid);
        break;
      }
      std::this_thread::sleep_for(kPollInterval);
    }
    d->pid = -1;
  }
}

void PipewireServer::kill_now() {
  for (Daemon &d : daemons_) {
    if (d.name == "pipewire-pulse" && d.pid >= 0) {
      ::kill(d.pid, SIGKILL);
      reap(d.pid);
      d.pid = -1;
    }
  }
}

std::string PipewireServer::socket() const {
  return "unix:" + dir_ + "/pulse/native";
}

std::string PipewireServer::dir() const { return dir_; }

std::vector<pid_t> PipewireServer::pids() const {
  std::vector<pid_t> result;
  for (const Daemon &d : daemons_) {
    if (d.pid >= 0)
      result.push_back(d.pid);
  }
  return result;
}

std::string PipewireServer::pactl(const std::string &args) const {
  return pactl_at(socket(), daemon_environment(), args);
}

std::vector<std::string> PipewireServer::environment() const {
  return {"PULSE_SERVER=" + socket(), "XDG_RUNTIME_DIR=" + dir_, "HOME=" + dir_,
          "ALSA_CONFIG_PATH=" + dir_ + "/asound.conf"};
}

std::vector<std::string> PipewireServer::daemon_environment() const {
  static const std::string lib = library_dir();
  const std::string share = std::string(PIPEWIRE_ROOT) + "/usr/share";
  const char *path = std::getenv("PATH");
  return {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
          "HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_,
          "XDG_CONFIG_HOME=" + dir_ + "/.config",
          "XDG_STATE_HOME=" + dir_ + "/.state",
          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ + "/bus",
          // The modules find each other through a RUNPATH into /usr.
          "LD_LIBRARY_PATH=" + lib + ":" + lib + "/pipewire-0.3",
          "SPA_PLUGIN_DIR=" + lib + "/spa-0.2",
          "PIPEWIRE_MODULE_DIR=" + lib + "/pipewire-0.3",
          "PIPEWIRE_CONFIG_DIR=" + dir_ + "/config",
          "WIREPLUMBER_MODULE_DIR=" + lib + "/wireplumber-0.4",
          "WIREPLUMBER_CONFIG_DIR=" + share + "/wireplumber",
          "WIREPLUMBER_DATA_DIR=" + share + "/wireplumber",
          "PULSE_SERVER=" + socket(), "LC_ALL=C"};
}

std::string PipewireServer::logs() const {
  std::string text;
  for (const Daemon &d : daemons_)
    text += "--- " + d.name + ":\n" + read_text(dir_ + "/" + d.name + ".log");
  return text;
}

} // namespace pcmtap::test
