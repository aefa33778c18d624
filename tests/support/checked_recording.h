// pcmtap piped into the frame checker, as a user's pipeline would run it.
#ifndef PCMTAP_TESTS_SUPPORT_CHECKED_RECORDING_H
#define PCMTAP_TESTS_SUPPORT_CHECKED_RECORDING_H

#include "process.h"
#include "virtual_devices.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pcmtap::test {

// What the frame checker saw; `shortest` is the fewest bytes it read at a
// time, the last read left out.
struct CheckSummary {
  uint64_t frames = 0, first = 0, gaps = 0, lost = 0, errors = 0, breaks = 0,
           partial = 0, shortest = 0;
};

class CheckedRecording {
public:
  // Runs `pcmtap -` (or `recorder`) with `env`, its output read by
  // `frame_check` with `check_args` and progress reports every
  // `progress_frames`.
  CheckedRecording(const std::vector<std::string> &env,
                   const std::vector<std::string> &check_args,
                   uint64_t progress_frames = 44100,
                   const std::vector<std::string> &recorder = {PCMTAP_PATH,
                                                               "-"});

  Child &recorder() { return *recorder_; }
  Child &checker() { return *checker_; }
  // Waits until the checker has seen at least `frames`.
  bool wait_for_frames(uint64_t frames);
  // Waits for the checker to reach the end of the recording.
  CheckSummary summary();

private:
  TempDir dir_;
  std::unique_ptr<Child> checker_;
  std::unique_ptr<Child> recorder_;
};

// The figure of the loss message `head` ... `tail` in `err`, or -1 when
// none came.  `cause` is the message's last words ("device"), if any.
double reported_loss(const std::string &err, const std::string &cause,
                     const std::string &head = "pcmtap: overrun: ");

// Stops the recording with a character and checks that it ended well, the
// count whole but for one gap: the seconds lost in that gap.
double stop_with_one_gap(CheckedRecording &rec);

// Records from `env`'s device through a 35 s stall of the reader, longer
// than pcmtap and the pipe hold, and checks that the audio that did not fit
// is one gap in the count, said once with its length, and that the count
// goes on.  `check_args` start the checker's ("count", ...).
void expect_a_long_stall_reported(const std::vector<std::string> &env,
                                  std::vector<std::string> check_args);

// The loss lines in `err`: how many say `cause` ("output too slow"), and
// the seconds all of them add up to.
struct SaidLosses {
  size_t lines = 0;
  double seconds = 0;
};
SaidLosses said_losses(const std::string &err, const std::string &cause);

// Records through a reader at half the speed of the audio (88,200 bytes a
// second, an encoder that cannot keep up) and stops `seconds` after it saw
// its first frames.  Checks that the stop was clean, that the output
// reaches to within 0.5 s of the stop (the card's and the server's frames
// count the time, so this holds on a slow machine too) and that whatever
// is missing was said, to within 2 %, the first of it while the recording
// went on, within 10 s of the loss.  Returns pcmtap's standard error.
std::string expect_a_slow_reader_to_get_all_up_to_the_stop(
    const std::vector<std::string> &env, std::vector<std::string> check_args,
    double seconds,
    const std::vector<std::string> &recorder = {PCMTAP_PATH, "-"});

// Takes the card away under a recording of a second or more (creates its
// `fail_file`) and checks that pcmtap ends on its own, with the reason and
// every frame it had; the reason is the device's, then "No such device".
// The reader keeps up, so each write reaches it whole: a block of 50 ms, but
// for the last.
void expect_unplugging_ends_it(CheckedRecording &rec,
                               const std::string &fail_file,
                               const std::string &device = "");

// Waits for `frames` counting frames after the silence a source gives
// before it is fed, and returns them: fewer when the output closed, or when
// 30 s of silence came instead (the source was never fed).
std::string counted_frames(Child &pcmtap, size_t frames);

// A sound server's second recording device, as a desktop has: pactl's
// arguments for a pipe source `name` of its own, without ports, reading
// `fifo` and described as "USB Headset".
std::string headset_module_args(const std::string &name,
                                const std::string &fifo);

// Plays `frames` counting frames from `first` on the sink `sink` of the
// server that `env` leads to, through pacat; the frames go in a file under
// `dir`.  Killed with the Child.
std::unique_ptr<Child> play_counting_frames(const std::vector<std::string> &env,
                                            const std::string &sink,
                                            const TempDir &dir, uint32_t first,
                                            size_t frames);

} // namespace pcmtap::test

#endif
