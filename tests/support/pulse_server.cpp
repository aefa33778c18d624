#include "pulse_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pcmtap::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

std::runtime_error sys_error(const std::string &what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

private:
  int fd_;
};

// argv[0] as a path: as given if it has a slash, else the first executable
// of that name in this process's PATH.
std::string find_program(const std::string &name) {
  if (name.find('/') != std::string::npos)
    return name;
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  throw std::runtime_error("program not found in PATH: " + name);
}

std::vector<char *> c_strings(const std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (const std::string &s : strings)
    result.push_back(const_cast<char *>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

} // namespace

pid_t spawn(const std::vector<std::string> &argv,
            const std::vector<std::string> &env, int out_fd, int err_fd,
            bool die_with_parent) {
  const std::string program = find_program(argv.at(0));
  std::vector<char *> c_argv = c_strings(argv);
  std::vector<char *> c_env = c_strings(env);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0)
    throw sys_error("fork");
  if (pid == 0) {
    if (die_with_parent &&
        (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
      ::_exit(127);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
        ::dup2(err_fd, 2) < 0)
      ::_exit(127);
    ::execve(program.c_str(), c_argv.data(), c_env.data());
    ::_exit(127);
  }
  return pid;
}

namespace {

int decode_status(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

int wait_blocking(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  return decode_status(status);
}

// True (and the exit status in *status) once `pid` has exited.
bool try_wait(pid_t pid, int *status) {
  int raw = 0;
  const pid_t r = ::waitpid(pid, &raw, WNOHANG);
  if (r == 0 || (r < 0 && errno == EINTR))
    return false;
  *status = r == pid ? decode_status(raw) : -1;
  return true;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A quoted string for an ALSA configuration file.
std::string alsa_quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string make_temp_dir() {
  // A unix socket path must fit in sockaddr_un::sun_path (108 bytes).
  std::string base = "/tmp";
  const char *tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && tmpdir[0] == '/' && std::strlen(tmpdir) < 60 &&
      std::strpbrk(tmpdir, " \"'\\") == nullptr)
    base = tmpdir;
  std::string templ = base + "/pcmtap-pulse-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr)
    throw sys_error("mkdtemp " + templ);
  return templ;
}

} // namespace

ProcessResult run_process(const std::vector<std::string> &argv,
                          const std::vector<std::string> &env,
                          std::chrono::milliseconds timeout) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0)
    throw sys_error("pipe2");
  Fd out_read(out_pipe[0]);
  Fd out_write(out_pipe[1]);
  if (::pipe2(err_pipe, O_CLOEXEC) != 0)
    throw sys_error("pipe2");
  Fd err_read(err_pipe[0]);
  Fd err_write(err_pipe[1]);

  const pid_t pid = spawn(argv, env, out_write.get(), err_write.get(), false);
  out_write.reset();
  err_write.reset();

  ProcessResult result;
  const auto deadline = Clock::now() + timeout;
  bool timed_out = false;
  while (out_read.get() >= 0 || err_read.get() >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
    const int n = ::poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0 && errno != EINTR) {
      timed_out = true; // cannot watch it any more: treat as a hang
      break;
    }
    Fd *readers[2] = {&out_read, &err_read};
    std::string *sinks[2] = {&result.out, &result.err};
    for (int i = 0; i < 2 && n > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0)
        sinks[i]->append(buffer, static_cast<size_t>(got));
      else if (got == 0 || errno != EINTR)
        readers[i]->reset();
    }
  }
  if (timed_out)
    ::kill(pid, SIGKILL);
  result.status = wait_blocking(pid);
  return result;
}

PulseServer::PulseServer(
    const std::vector<std::string> &script_lines,
    const std::function<ServerSetup(const std::string &dir)> &setup)
    : dir_(make_temp_dir()) {
  try {
    const ServerSetup how = setup ? setup(dir_) : ServerSetup{};
    std::vector<std::string> server_env = tool_environment();
    server_env.insert(server_env.end(), how.environment.begin(),
                      how.environment.end());
    const std::string script_path = dir_ + "/server.pa";
    {
      std::ofstream script(script_path);
      script << "load-module module-native-protocol-unix socket=\"" << dir_
             << "/native\" auth-anonymous=1\n";
      for (const std::string &line : script_lines)
        script << line << "\n";
      for (const std::string &line : how.script_lines)
        script << line << "\n";
      if (!script.flush())
        throw std::runtime_error("cannot write " + script_path);
    }
    Fd log_fd(::open((dir_ + "/server.log").c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Fd null_fd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (log_fd.get() < 0 || null_fd.get() < 0)
      throw sys_error("open server log");
    // As root PulseAudio only warns ("not intended to be run as root")
    // unless --system is given; the per-user mode used here works.
    pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                  "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                  "--log-target=stderr", "-F", script_path},
                 server_env, null_fd.get(), log_fd.get(), true);

    const auto deadline = Clock::now() + kStartTimeout;
    for (;;) {
      int status = 0;
      if (try_wait(pid_, &status)) {
        pid_ = -1;
        throw std::runtime_error("pulseaudio exited with status " +
                                 std::to_string(status) + ":\n" + log());
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now());
      if (left.count() <= 0)
        throw std::runtime_error("pulseaudio did not answer within " +
                                 std::to_string(kStartTimeout.count()) +
                                 " s:\n" + log());
      if (run_process({"pactl", "--server=" + socket(), "info"},
                      tool_environment(), left)
              .status == 0) {
        // PulseAudio carries on past most failing script lines (a module
        // that does not load, a default source that does not exist) and
        // only logs them, so its errors count as failure.
        if (log_has_errors(how.expected_errors))
          throw std::runtime_error("pulseaudio reported errors:\n" + log());
        return;
      }
      std::this_thread::sleep_for(kPollInterval);
    }
  } catch (...) {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    throw;
  }
}

PulseServer::~PulseServer() {
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void PulseServer::stop() {
  if (pid_ < 0)
    return;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + kStopGrace;
  int status = 0;
  while (!try_wait(pid_, &status)) {
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      wait_blocking(pid_);
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  pid_ = -1;
}

void PulseServer::kill_now() {
  if (pid_ < 0)
    return;
  ::kill(pid_, SIGKILL);
  wait_blocking(pid_);
  pid_ = -1;
}

std::string PulseServer::socket() const { return "unix:" + dir_ + "/native"; }

std::string PulseServer::dir() const { return dir_; }

pid_t PulseServer::pid() const { return pid_; }

std::string PulseServer::write_alsa_config() const {
  // Without alsa.conf, alsa-lib still finds the plugins for `type pulse`
  // (libasound_module_{pcm,ctl}_pulse.so) in its own plugin directory, so no
  // pcm_type/ctl_type entries are needed.
  const std::string server = alsa_quoted(socket());
  const std::string text = "pcm.!default { type pulse server " + server +
                           " }\nctl.!default { type pulse server " + server +
                           " }\n";
  const std::string path = dir_ + "/asound.conf";
  // Written to a temporary file and renamed, so a reader never sees half.
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0)
    throw sys_error("mkstemp " + temp);
  const bool written = ::write(fd, text.data(), text.size()) ==
                       static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    const std::runtime_error error = sys_error("cannot write " + path);
    ::unlink(temp.c_str());
    throw error;
  }
  return path;
}

std::string pactl_at(const std::string &socket,
                     const std::vector<std::string> &env,
                     const std::string &args) {
  const ProcessResult r = run_process(
      {"/bin/sh", "-c", "exec pactl --server=\"$0\" " + args, socket}, env);
  if (r.status != 0)
    throw std::runtime_error("pactl " + args + " failed with status " +
                             std::to_string(r.status) + ": " + r.err);
  return r.out;
}

bool wait_for_playing_streams(
    const std::function<std::string(const std::string &)> &pactl,
    size_t count) {
  const auto deadline = Clock::now() + kStartTimeout;
  for (;;) {
    const std::string streams = pactl("list short sink-inputs");
    if (size_t(std::count(streams.begin(), streams.end(), '\n')) >= count)
      return true;
    if (Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::string PulseServer::pactl(const std::string &args) const {
  return pactl_at(socket(), tool_environment(), args);
}

std::vector<std::string> PulseServer::environment() const {
  return {"PULSE_SERVER=" + socket(), "XDG_RUNTIME_DIR=" + dir_, "HOME=" + dir_,
          "ALSA_CONFIG_PATH=" + write_alsa_config()};
}

std::vector<std::string> PulseServer::tool_environment() const {
  const char *path = std::getenv("PATH");
  return {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
          "HOME=" + dir_,
          "XDG_RUNTIME_DIR=" + dir_,
          "XDG_CONFIG_HOME=" + dir_ + "/.config",
          "PULSE_SERVER=" + socket(),
          "LC_ALL=C"};
}

std::string PulseServer::log() const { return read_file(dir_ + "/server.log"); }

bool PulseServer::log_has_errors(
    const std::vector<std::string> &expected) const {
  std::istringstream lines(log());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("E: ", 0) != 0)
      continue;
    const bool known = std::any_of(expected.begin(), expected.end(),
                                   [&](const std::string &e) {
                                     return line.find(e) != std::string::npos;
                                   });
    if (!known)
      return true;
  }
  return false;
}

} // namespace pcmtap::test
