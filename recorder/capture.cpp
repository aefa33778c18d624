#include "capture.h"

#include "bass.h"
#include "input_number.h"
#include "messages.h"
#include "peak_meter.h"
#include "standard_streams.h"
#include "status_line.h"
#include "stop_wait.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pcmtap {
namespace {

const DWORD kRate = 44100;
const DWORD kChannels = 2;

// What the callback found, for the main thread once the library is freed.
// Written on the library's thread before it wakes the main thread, read
// after BASS_RecordFree has ended that thread.  The bytes written and the
// peaks are also watched as they change.
struct CaptureOutcome {
  int write_errno = 0;
  bool device_failed = false;
  std::atomic<uint64_t> bytes_written{0};
  bool metering = false; // set before the recording starts
  PeakMeter meter;
};
CaptureOutcome outcome;

// How long the output may take no block at all once the user asked to stop,
// before pcmtap gives up on a reader that has stopped reading.
const auto kStalledOutputLimit = std::chrono::seconds(3);

BOOL CALLBACK write_block(HRECORD, const void *buffer, DWORD length, void *) {
  if (buffer == nullptr) { // the recording ended on its own
    outcome.device_failed = true;
    StopWait::recording_ended();
    return 0;
  }
  if (std::fwrite(buffer, 1, length, stdout) == length) {
    if (outcome.metering)
      outcome.meter.scan(buffer, length);
    outcome.bytes_written.fetch_add(length, std::memory_order_relaxed);
    return 1;
  }
  outcome.write_errno = output_write_error();
  StopWait::recording_ended();
  return 0;
}

// Switches every input back on that was on before the walk.
void restore_inputs(const std::vector<DWORD> &flags_before) {
  for (size_t i = 0; i < flags_before.size(); ++i)
    if (!(flags_before[i] & BASS_INPUT_OFF))
      BASS_RecordSetInput(int(i), BASS_INPUT_SET_ON);
}

// `arg` as the shell would need it typed.
std::string shell_word(const char *arg) {
  std::string word = arg;
  if (!word.empty() &&
      word.find_first_not_of("0123456789+-_.,=abcdefghijklmnopqrstuvwxyz"
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Raw audio on a terminal is noise on the screen and may set its modes.
int refuse_terminal_output(const char *arg) {
  std::string self = "pcmtap " + shell_word(arg);
  warn("standard output is a terminal, and raw audio would garble it; send it "
       "to a file or a program instead, for example:\n  %s > take.raw\n  %s "
       "| sox -t raw -r 44100 -e signed -b 16 -c 2 - take.wav",
       self.c_str(), self.c_str());
  return 2;
}

bool same_ignoring_case(const std::string &a, const std::string &b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "What Zoom plays" asks for a program, whether or not it plays now: the
// library, told so before it lists its inputs, lists it while it waits.
void tell_of_program(const std::string &name) {
  static const std::string what = "what ", plays = " plays";
  if (name.size() <= what.size() + plays.size() ||
      !same_ignoring_case(name.substr(0, what.size()), what) ||
      !same_ignoring_case(name.substr(name.size() - plays.size()), plays))
    return;
  static std::string setting; // putenv keeps it
  setting = "PCMTAP_PROGRAM=" +
            name.substr(what.size(), name.size() - what.size() - plays.size());
  putenv(setting.data());
}

// The number of the input named `arg`, ignoring case; where none is, what
// the name reads as, input 0, said once.
InputNumber input_named(const char *arg, InputNumber n) {
  tell_of_program(arg);
  for (int i = 0; const char *name = BASS_RecordGetInputName(i); ++i)
    if (same_ignoring_case(name, arg))
      return {true, true, i, std::to_string(i)};
  if (const char *first = BASS_RecordGetInputName(0))
    warn("no input is named \"%s\"; recording input 0, \"%s\"", arg, first);
  return n;
}

// Records from input `arg` alone, by its number or its name: every input
// off, then that one on.  Returns an exit status, 0 when recording may
// start.
int select_input(const char *arg) {
  InputNumber n = parse_input_number(arg);
  if (n.named)
    n = input_named(arg, n);
  if (!n.fits_int || n.value < 0 || !BASS_RecordGetInputName(n.value)) {
    warn("there is no input %s on the recording device; run pcmtap without "
         "arguments to list the inputs",
         n.text.c_str());
    return 2;
  }
  std::vector<DWORD> flags_before;
  for (int i = 0;; ++i) {
    DWORD flags = BASS_RecordGetInput(i);
    if (!BASS_RecordSetInput(i, BASS_INPUT_SET_OFF))
      break;
    flags_before.push_back(flags);
  }
  if (!BASS_RecordSetInput(n.value, BASS_INPUT_SET_ON)) {
    restore_inputs(flags_before);
    warn("cannot switch on input %d; the inputs are left as they were",
         n.value);
    return 1;
  }
  return 0;
}

// Frees the library, which delivers the rest of the recording, and flushes
// it out.  A reader that has stopped reading would hold that up forever, so
// a watchdog ends the process once the output has stood still too long.
void finish_recording(StatusLine &status) {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    uint64_t seen = outcome.bytes_written.load();
    while (
        !finished.wait_for(lock, kStalledOutputLimit, [&] { return done; })) {
      uint64_t now = outcome.bytes_written.load();
      if (now == seen) {
        status.finish(false); // or the message would die in its pipe
        warn("output stalled; stopping without writing the rest of the "
             "recording");
        std::_Exit(1);
      }
      seen = now;
    }
  });
  BASS_RecordFree();
  BASS_Free();
  if (outcome.write_errno == 0 && std::fflush(stdout) != 0)
    outcome.write_errno = output_write_error();
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  finished.notify_one();
  watchdog.join();
}

// The status once recording is over and the library freed.
int capture_status() {
  if (outcome.write_errno == EPIPE)
    return 1; // the reader went away: nothing more to say
  if (outcome.write_errno != 0) {
    warn("write <stdout>: %s", std::strerror(outcome.write_errno));
    return 1;
  }
  if (outcome.device_failed)
    return 1; // the library has said why
  return 0;
}

} // namespace

int capture_mode(const char *arg) {
  if (output_is_terminal())
    return refuse_terminal_output(arg);
  if (arg[0] != '-') {
    if (int status = select_input(arg); status != 0)
      return status;
  }
  prepare_output_for_audio();
  StopWait stop;
  if (stop.error() != 0) {
    warn("cannot wait for the stop: %s", std::strerror(stop.error()));
    return 1;
  }
  StatusLine status(outcome.bytes_written, outcome.meter);
  outcome.metering = status.active();
  if (!BASS_RecordStart(kRate, kChannels, 0, write_block, nullptr))
    return 1; // the library has said why
  if (stop.wait())
    status.line_typed();
  finish_recording(status);
  status.finish(true);
  return capture_status();
}

} // namespace pcmtap
