// The wait for the stop on Windows: standard input (here a pipe), a
// console control event and the recording ending on its own each end it.
#include "stop_wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace pcmtap {
namespace {

// Standard input from a pipe whose other end the test holds.
class PipedInput {
public:
  PipedInput() {
    CreatePipe(&read_, &write_, nullptr, 0);
    saved_ = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, read_);
  }
  ~PipedInput() {
    close_writer();
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    CloseHandle(read_);
  }
  void write(const char *text) {
    DWORD n;
    WriteFile(write_, text, DWORD(strlen(text)), &n, nullptr);
  }
  void close_writer() {
    if (write_)
      CloseHandle(write_);
    write_ = nullptr;
  }

private:
  HANDLE read_ = nullptr, write_ = nullptr, saved_ = nullptr;
};

TEST(StopWait, EndsOnACharacterOrTheEndOfInput) {
  {
    PipedInput input;
    StopWait stop;
    ASSERT_EQ(stop.error(), 0);
    input.write("\n");
    EXPECT_TRUE(stop.wait());
  }
  PipedInput input;
  StopWait stop;
  input.close_writer();
  EXPECT_FALSE(stop.wait());
}

TEST(StopWait, EndsWhenTheRecordingEndsOrTheConsoleInterrupts) {
  PipedInput input; // stays open and silent
  {
    StopWait stop;
    std::thread ended([] { StopWait::recording_ended(); });
    EXPECT_FALSE(stop.wait());
    ended.join();
  }
  StopWait stop;
  // Ctrl+Break goes to every process on the console; without a console
  // there is nothing to raise it on.
  if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
    EXPECT_FALSE(stop.wait());
  }
}

} // namespace
} // namespace pcmtap
