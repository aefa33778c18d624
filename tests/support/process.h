// Runs a program under test as a child process with its standard streams
// in the test's hands.
#ifndef PCMTAP_TESTS_SUPPORT_PROCESS_H
#define PCMTAP_TESTS_SUPPORT_PROCESS_H

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pcmtap::test {

struct ChildOptions {
  // "NAME=value" entries added to (or replacing in) the test's environment.
  std::vector<std::string> env;
  // Standard input: a pipe the test writes to, or this file when set.
  std::string stdin_path;
  // Standard output: a pipe the test reads, or this file when set.
  std::string stdout_path;
  // How much of standard output to keep; the rest is only counted.
  size_t keep_stdout = size_t(-1);
  // SIGPIPE ignored, as after `trap '' PIPE` in the calling shell.
  bool ignore_sigpipe = false;
  // Standard streams on one pseudo-terminal (120 columns), which the test
  // reads as err(), or as out() when standard error is not on it, and
  // types into with write_stdin() when standard input is.
  bool stdin_terminal = false;
  bool stdout_terminal = false;
  bool stderr_terminal = false;
};

class Child {
public:
  Child(const std::vector<std::string> &argv, const ChildOptions &options);
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  void write_stdin(const std::string &text);
  void close_stdin();
  void send_signal(int signo);
  // Stops reading standard output, as a stalled reader does, or resumes.
  void pause_output(bool paused);
  // Reads `bytes` more of standard output, then stops reading again.
  void read_output(size_t bytes);
  // Closes the read end of standard output, as a reader that goes away.
  void close_output();

  // Waits until standard output has delivered `bytes` in all.  False when
  // it closed first, or nothing came for a long time (a hang).
  bool wait_for_output(size_t bytes);
  // Waits until `done(stdout so far)` holds, or `done(stderr so far)`;
  // false when that stream closed first or nothing came for a long time.
  bool wait_until(const std::function<bool(const std::string &)> &done,
                  bool on_stderr = false);
  // The exit code, or 128 + the signal that ended the child.  A child that
  // does not end for a long time (a hang) fails the test and is killed.
  int wait();
  int pid() const { return pid_; }

  std::string out() const;
  size_t out_size() const;
  std::string err() const;

private:
  void read_stream(int fd, bool is_stdout);

  int pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int status_ = -1;
  size_t keep_stdout_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_, err_;
  size_t out_size_ = 0;
  bool out_closed_ = false;
  bool err_closed_ = false;
  size_t out_budget_ = size_t(-1); // what may still be read; 0: paused
  std::thread out_reader_, err_reader_;
};

struct Result {
  int status;
  std::string out;
  std::string err;
};

// A thread of a running process, as /proc has it: its id, its state
// (R running, S sleeping, T stopped, ...) and the kernel wait it sleeps in.
struct ThreadState {
  std::string tid;
  char state;
  std::string wchan;
};
// Empty once the process is gone.
std::vector<ThreadState> thread_states(int pid);

// Runs a child to its end with `input` on standard input.
Result run(const std::vector<std::string> &argv, const ChildOptions &options,
           const std::string &input = "");

// `text` cut at each '\n' (a "\r" before it stays): the last piece is
// what follows the last one, empty when the text ends a line.
std::vector<std::string> lines_of(const std::string &text);

} // namespace pcmtap::test

#endif
