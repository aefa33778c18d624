#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace pcmtap::test {
namespace {

// Only a guard against hangs: tests never depend on timing.
const auto kHangTimeout = std::chrono::seconds(60);

// The process's environment with `overrides` set in order: a variable set
// twice holds its last value, and the child sees it once.
std::vector<std::string>
merged_environment(const std::vector<std::string> &overrides) {
  std::vector<std::string> env;
  auto set = [&env](const std::string &entry) {
    size_t eq = entry.find('=');
    std::string name = entry.substr(0, eq == std::string::npos ? eq : eq + 1);
    for (std::string &e : env)
      if (e.compare(0, name.size(), name) == 0)
        return void(e = entry);
    env.push_back(entry);
  };
  for (char **entry = environ; *entry; ++entry)
    set(*entry);
  for (const std::string &o : overrides)
    set(o);
  return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (std::string &s : strings)
    result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

void redirect(const std::string &path, int flags, int target) {
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0 || dup2(fd, target) < 0)
    _exit(127);
}

// A pseudo-terminal wide enough that nothing a test looks for is cut.
void make_terminal(int *master, int *slave) {
  winsize size = {};
  size.ws_row = 24;
  size.ws_col = 120;
  if (openpty(master, slave, nullptr, nullptr, &size) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  fcntl(*master, F_SETFD, FD_CLOEXEC);
  fcntl(*slave, F_SETFD, FD_CLOEXEC);
}

} // namespace

Child::Child(const std::vector<std::string> &argv, const ChildOptions &options)
    : keep_stdout_(options.keep_stdout) {
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  int terminal = -1, terminal_slave = -1;
  if (options.stdin_terminal || options.stdout_terminal ||
      options.stderr_terminal)
    make_terminal(&terminal, &terminal_slave);
  std::vector<std::string> args = argv;
  std::vector<std::string> env = merged_environment(options.env);
  std::vector<char *> c_args = c_strings(args), c_env = c_strings(env);

  pid_ = fork();
  if (pid_ < 0)
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (options.stdin_terminal)
      dup2(terminal_slave, 0);
    else if (options.stdin_path.empty())
      dup2(in[0], 0);
    else
      redirect(options.stdin_path, O_RDONLY, 0);
    if (options.stdout_terminal)
      dup2(terminal_slave, 1);
    else if (options.stdout_path.empty())
      dup2(out[1], 1);
    else
      redirect(options.stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 1);
    dup2(options.stderr_terminal ? terminal_slave : err[1], 2);
    execve(c_args[0], c_args.data(), c_env.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  stdin_fd_ = in[1];
  if (options.stdin_terminal) {
    close(in[1]);
    stdin_fd_ = fcntl(terminal, F_DUPFD_CLOEXEC, 3);
  }
  if (terminal >= 0) {
    close(terminal_slave);
    // The terminal takes the place of the stream the test reads it as.
    if (options.stdout_terminal || options.stderr_terminal) {
      int &replaced = options.stderr_terminal ? err[0] : out[0];
      close(replaced);
      replaced = terminal;
    } else {
      close(terminal);
    }
  }
  stdout_fd_ = out[0];
  out_reader_ = std::thread(&Child::read_stream, this, out[0], true);
  err_reader_ = std::thread(&Child::read_stream, this, err[0], false);
}

Child::~Child() {
  if (status_ < 0) {
    kill(pid_, SIGKILL);
    pause_output(false);
    wait();
  }
  close_stdin();
}

void Child::read_stream(int fd, bool is_stdout) {
  char buffer[65536];
  for (;;) {
    size_t most = sizeof buffer;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !is_stdout || out_budget_ != 0; });
      if (is_stdout)
        most = std::min(most, out_budget_);
    }
    ssize_t n = read(fd, buffer, most);
    if (n < 0 && errno == EINTR)
      continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      (is_stdout ? out_closed_ : err_closed_) = true;
      changed_.notify_all();
      break;
    }
    if (is_stdout) {
      if (out_budget_ != size_t(-1))
        out_budget_ -= size_t(n);
      size_t keep =
          std::min(size_t(n), keep_stdout_ - std::min(keep_stdout_, out_size_));
      out_.append(buffer, keep);
      out_size_ += size_t(n);
    } else {
      err_.append(buffer, size_t(n));
    }
    changed_.notify_all();
  }
  close(fd);
}

void Child::write_stdin(const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(stdin_fd_, text.data() + done, text.size() - done);
    if (n <= 0)
      return; // the child is gone; the test will see why
    done += size_t(n);
  }
}

void Child::close_stdin() {
  if (stdin_fd_ >= 0)
    close(stdin_fd_);
  stdin_fd_ = -1;
}

std::vector<ThreadState> thread_states(int pid) {
  std::vector<ThreadState> threads;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR *dir = opendir(tasks.c_str());
  if (!dir)
    return threads; // gone
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.')
      continue;
    const std::string task = tasks + "/" + entry->d_name;
    std::ifstream stat(task + "/stat"), wchan(task + "/wchan");
    std::string line;
    std::getline(stat, line);
    size_t paren = line.rfind(')');
    ThreadState thread{entry->d_name, '?', ""};
    if (paren != std::string::npos && paren + 2 < line.size())
      thread.state = line[paren + 2];
    std::getline(wchan, thread.wchan);
    threads.push_back(thread);
  }
  closedir(dir);
  return threads;
}

namespace {

// Whether every thread of `pid` has stopped: kill() returns before a thread
// running on another core has taken a SIGSTOP, and a test that changes a
// device next must not race that thread.
bool all_threads_stopped(int pid) {
  for (const ThreadState &thread : thread_states(pid))
    if (thread.state != 'T' && thread.state != 't' && thread.state != '?')
      return false;
  return true;
}

} // namespace

void Child::send_signal(int signo) {
  kill(pid_, signo);
  const auto deadline = std::chrono::steady_clock::now() + kHangTimeout;
  while (signo == SIGSTOP && !all_threads_stopped(pid_) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Child::pause_output(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  out_budget_ = paused ? 0 : size_t(-1);
  changed_.notify_all();
}

void Child::read_output(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  out_budget_ = bytes;
  changed_.notify_all();
}

void Child::close_output() {
  std::lock_guard<std::mutex> lock(mutex_);
  // shutdown of a pipe: closing our only read end gives the writer EPIPE.
  // The reader thread then sees EBADF and stops.
  if (stdout_fd_ >= 0) {
    int fd = stdout_fd_;
    stdout_fd_ = -1;
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    dup2(null_fd, fd); // keeps the number valid for the reader
    close(null_fd);
  }
}

bool Child::wait_for_output(size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  size_t seen = out_size_;
  for (;;) {
    if (out_size_ >= bytes)
      return true;
    if (out_closed_)
      return false;
    if (!changed_.wait_for(lock, kHangTimeout,
                           [&] { return out_size_ != seen || out_closed_; }))
      return false;
    seen = out_size_;
  }
}

bool Child::wait_until(const std::function<bool(const std::string &)> &done,
                       bool on_stderr) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::string &text = on_stderr ? err_ : out_;
  const bool &closed = on_stderr ? err_closed_ : out_closed_;
  for (;;) {
    if (done(text))
      return true;
    if (closed)
      return false;
    size_t seen = on_stderr ? err_.size() : out_size_;
    if (!changed_.wait_for(lock, kHangTimeout, [&] {
          return (on_stderr ? err_.size() : out_size_) != seen || closed;
        }))
      return false;
  }
}

int Child::wait() {
  if (status_ >= 0)
    return status_;
  int raw = 0;
  const auto limit = std::chrono::steady_clock::now() + kHangTimeout;
  for (;;) {
    pid_t ended = waitpid(pid_, &raw, WNOHANG);
    if (ended == pid_ || (ended < 0 && errno != EINTR))
      break;
    if (std::chrono::steady_clock::now() > limit) {
      ADD_FAILURE() << "the child did not end; killed";
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  pause_output(false); // whatever is left in the pipe can go now
  out_reader_.join();
  err_reader_.join();
  return status_;
}

std::string Child::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

size_t Child::out_size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_size_;
}

std::string Child::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

Result run(const std::vector<std::string> &argv, const ChildOptions &options,
           const std::string &input) {
  Child child(argv, options);
  child.write_stdin(input);
  child.close_stdin();
  int status = child.wait();
  return {status, child.out(), child.err()};
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

} // namespace pcmtap::test
