// scripts/run as a newcomer meets it, on the pcmtap the tests built: where
// there is no recording device at all it points to scripts/demo.
#include "process.h"
#include "pulse_server.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

namespace pcmtap::test {
namespace {

const char kHint[] = "scripts/run: no recording device here; scripts/demo "
                     "shows pcmtap recording a test tone without one\n";

Result run_script(std::vector<std::string> env) {
  env.push_back(std::string("PCMTAP=") + PCMTAP_PATH);
  ChildOptions o;
  o.env = env;
  return run({"/bin/sh", SOURCE_DIR "/scripts/run"}, o);
}

// Catches the pointer left out where nothing answers, or added where a
// sound server answers (its device is there, only not usable as it is).
TEST(RunScript, PointsToTheDemoOnlyWhereThereIsNoCardAndNoServer) {
  TempDir dir;
  write_file(dir.file("asound.conf"), ""); // no card, no default device
  Result none =
      run_script({"ALSA_CONFIG_PATH=" + dir.file("asound.conf"),
                  "PULSE_SERVER=unix:" + dir.file("none"), "HOME=" + dir.path(),
                  "XDG_RUNTIME_DIR=" + dir.path(), "PCMTAP_AUDIO="});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "RecordInit falied.\n");
  EXPECT_EQ(none.err.rfind("pcmtap: ", 0), 0u) << none.err;
  EXPECT_EQ(none.err.size() - none.err.find(kHint), sizeof kHint - 1)
      << none.err;

  PulseServer empty({}); // answers, with no source
  Result server = run_script(empty.environment());
  EXPECT_EQ(server.status, 1);
  EXPECT_EQ(server.out, "RecordInit falied.\n");
  EXPECT_EQ(server.err.find("scripts/run"), std::string::npos) << server.err;
}

} // namespace
} // namespace pcmtap::test
