// A stand-in for the audio library, linked into a test build of pcmtap so
// that the front end can be driven through every path.  It behaves as the
// real one does where the front end can tell: blocks arrive on a thread of
// its own that takes none of the process's signals, BASS_RecordFree delivers
// what was captured before it returns, and a failed device ends with the
// null-buffer call.
//
// Set up through the environment:
//   FAKE_LOG          file to which every call is appended, one line each
//   FAKE_RECORD_INIT  "fail": BASS_RecordInit returns zero
//   FAKE_INIT         "fail": BASS_Init returns zero
//   FAKE_INPUTS       inputs as "FLAGS=NAME;FLAGS=NAME", FLAGS in hex
//   FAKE_REFUSE_ON    "1": switching any input on is refused
//   FAKE_START        "fail": BASS_RecordStart returns zero
//   FAKE_BLOCKS       blocks captured at the start (1024 counting frames
//                     each); delivered at once, then the device is idle
//   FAKE_BLOCK_FRAMES frames in each block instead of 1024
//   FAKE_TONE         "AMPLITUDE": the blocks hold a square wave of that
//                     amplitude on the left and silence on the right
//   FAKE_LOST         "2.35;3.00": after the blocks, one overrun message
//                     for each figure, as the library reports losses
//   FAKE_DEVICE_FAIL  "1": after those blocks the device fails
#include "bass.h"

#include <signal.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Input {
  DWORD flags;
  std::string name;
};

struct Fake {
  std::vector<Input> inputs;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable stopped;
  bool stop = false;
};

Fake &fake() {
  static Fake instance;
  return instance;
}

bool env_is(const char *name, const char *value) {
  const char *actual = std::getenv(name);
  return actual && std::strcmp(actual, value) == 0;
}

void log_call(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_call(const char *format, ...) {
  const char *path = std::getenv("FAKE_LOG");
  if (!path)
    return;
  FILE *log = std::fopen(path, "a");
  if (!log)
    return;
  va_list args;
  va_start(args, format);
  std::vfprintf(log, format, args);
  va_end(args);
  std::fputc('\n', log);
  std::fclose(log);
}

void load_inputs() {
  const char *listed = std::getenv("FAKE_INPUTS");
  std::string rest = listed ? listed : "";
  while (!rest.empty()) {
    size_t end = rest.find(';');
    std::string item = rest.substr(0, end);
    size_t eq = item.find('=');
    fake().inputs.push_back(
        {DWORD(std::strtoul(item.substr(0, eq).c_str(), nullptr, 16)),
         item.substr(eq + 1)});
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
  }
}

bool valid(int input) {
  return input >= 0 && size_t(input) < fake().inputs.size();
}

int env_int(const char *name, int otherwise) {
  const char *value = std::getenv(name);
  return value ? std::atoi(value) : otherwise;
}

// Frame `i` of the recording: a counting frame, or the tone's.
uint32_t frame_at(uint32_t i, int tone) {
  if (tone == 0)
    return i;
  int16_t left = int16_t(i % 100 < 50 ? tone : -tone);
  return uint16_t(left);
}

void report_losses() {
  const char *lost = std::getenv("FAKE_LOST");
  std::string rest = lost ? lost : "";
  while (!rest.empty()) {
    size_t end = rest.find(';');
    std::fprintf(stderr, "pcmtap: overrun: %s s of audio lost (device)\n",
                 rest.substr(0, end).c_str());
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
  }
}

void record(RECORDPROC *proc, void *user, int blocks, bool device_fails) {
  std::vector<uint32_t> frames(size_t(env_int("FAKE_BLOCK_FRAMES", 1024)));
  const int tone = env_int("FAKE_TONE", 0);
  uint32_t next = 0;
  for (int b = 0; b < blocks; ++b) {
    for (uint32_t &frame : frames)
      frame = frame_at(next++, tone);
    if (!proc(1, frames.data(), DWORD(frames.size() * 4), user))
      return;
  }
  report_losses();
  if (device_fails) {
    std::fprintf(stderr, "pcmtap: recording device: No such device\n");
    proc(1, nullptr, 0, user);
    return;
  }
  std::unique_lock<std::mutex> lock(fake().mutex);
  fake().stopped.wait(lock, [] { return fake().stop; });
}

} // namespace

BOOL BASS_RecordInit(int device) {
  log_call("RecordInit %d", device);
  if (env_is("FAKE_RECORD_INIT", "fail"))
    return 0;
  load_inputs();
  return 1;
}

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *window, void *clsid) {
  log_call("Init %d %u %u %p %p", device, freq, flags, window, clsid);
  return !env_is("FAKE_INIT", "fail");
}

const char *BASS_RecordGetInputName(int input) {
  log_call("RecordGetInputName %d", input);
  return valid(input) ? fake().inputs[size_t(input)].name.c_str() : nullptr;
}

DWORD BASS_RecordGetInput(int input) {
  log_call("RecordGetInput %d", input);
  return valid(input) ? fake().inputs[size_t(input)].flags : 0;
}

BOOL BASS_RecordSetInput(int input, DWORD setting) {
  bool on = setting == BASS_INPUT_SET_ON;
  bool applied = valid(input) && !(on && env_is("FAKE_REFUSE_ON", "1"));
  log_call("RecordSetInput %d %s -> %d", input, on ? "on" : "off", applied);
  if (applied) {
    DWORD &flags = fake().inputs[size_t(input)].flags;
    flags = on ? flags & ~BASS_INPUT_OFF : flags | BASS_INPUT_OFF;
  }
  return applied;
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc,
                         void *user) {
  log_call("RecordStart %u %u %u %p", freq, chans, flags, user);
  if (env_is("FAKE_START", "fail")) {
    std::fprintf(stderr, "pcmtap: cannot start recording: Device or "
                         "resource busy\n");
    return 0;
  }
  const char *blocks = std::getenv("FAKE_BLOCKS");
  // As with the real library, the process's signals go to the front end's
  // thread, not to one stuck writing into a stalled reader; signals the
  // thread raises itself (a write into a closed pipe) keep their effect.
  sigset_t blocked, saved;
  sigfillset(&blocked);
  for (int own : {SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
    sigdelset(&blocked, own);
  pthread_sigmask(SIG_SETMASK, &blocked, &saved);
  fake().thread =
      std::thread(record, proc, user, blocks ? std::atoi(blocks) : 0,
                  env_is("FAKE_DEVICE_FAIL", "1"));
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return 1;
}

BOOL BASS_RecordFree(void) {
  log_call("RecordFree");
  {
    std::lock_guard<std::mutex> lock(fake().mutex);
    fake().stop = true;
  }
  fake().stopped.notify_all();
  if (fake().thread.joinable())
    fake().thread.join();
  return 1;
}

BOOL BASS_Free(void) {
  log_call("Free");
  return 1;
}
