// The README's examples, each line run as it stands through `sh -c` with
// the real sox, ffmpeg and aplay, pcmtap recording from the real-time
// virtual card (or, for what the computer plays, from a sound server whose
// default sink plays a tone), and what they wrote read back with ffmpeg or
// sox: an example that does not work as written fails here.
#include "process.h"
#include "pulse_server.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace pcmtap::test {
namespace {

const size_t kBytesPerSecond = 176400;

// The lines of the fenced block under "## Examples" in the README.
std::vector<std::string> readme_examples() {
  std::ifstream readme(README_PATH);
  std::vector<std::string> lines;
  bool in_section = false, in_block = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0)
      in_section = line == "## Examples";
    else if (in_section && line.rfind("```", 0) == 0)
      in_block = !in_block;
    else if (in_block && !line.empty())
      lines.push_back(line);
  }
  return lines;
}

bool has(const std::string &line, const std::string &word) {
  return line.find(word) != std::string::npos;
}

TEST(Readme, ShowsEveryKindOfExample) {
  std::vector<std::string> lines = readme_examples();
  for (const char *kind : {"sox ", ".wav", ".flac", "ffmpeg ", "aplay ",
                           "head -c", "kill -INT", "@DEFAULT_MONITOR@"})
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string &l) { return has(l, kind); }))
        << "no example with " << kind;
}

// Bytes written so far by the process named pcmtap among `shell`'s
// children (the shell runs each part of a pipeline as one).
uint64_t written_by_pcmtap(int shell) {
  for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
    std::string stat = read_file(entry.path() / "stat");
    int parent = 0;
    size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos ||
        stat.find("(pcmtap)") == std::string::npos ||
        std::sscanf(stat.c_str() + name_end + 1, " %*c %d", &parent) != 1 ||
        parent != shell)
      continue;
    std::string io = read_file(entry.path() / "io");
    size_t at = io.find("wchar: ");
    return at == std::string::npos ? 0
                                   : std::strtoull(&io[at + 7], nullptr, 10);
  }
  return 0;
}

// ThreadSanitizer's runtime writes half a MiB of its own as it starts,
// which the count above cannot tell from audio.
#ifdef __SANITIZE_THREAD__
const uint64_t kRuntimeWrites = 1 << 20;
#else
const uint64_t kRuntimeWrites = 0;
#endif

bool wait_until_pcmtap_wrote(int shell, uint64_t bytes) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (written_by_pcmtap(shell) < bytes + kRuntimeWrites) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Runs a tool to its end, failing the test (and returning "") if it fails.
std::string tool_output(std::vector<std::string> argv) {
  argv.insert(argv.begin(), "/usr/bin/env");
  Result r = run(argv, {});
  EXPECT_EQ(r.status, 0) << argv[1] << ": " << r.err;
  return r.status == 0 ? r.out : "";
}

class Example : public ::testing::TestWithParam<std::string> {
protected:
  std::vector<std::string> environment(const std::string &line) {
    std::string bin = std::filesystem::path(PCMTAP_PATH).parent_path();
    std::string path = "PATH=" + bin + ":" + std::getenv("PATH");
    if (plays_tone(line)) {
      server_ = std::make_unique<PulseServer>(std::vector<std::string>{
          "load-module module-null-sink sink_name=speakers",
          "set-default-sink speakers",
          "load-module module-sine sink=speakers frequency=440",
          // A default source of another pitch, which the line must avoid.
          "load-module module-sine-source source_name=mic frequency=1000",
          "set-default-source mic"});
      std::vector<std::string> env = server_->environment();
      env.push_back(path);
      return env;
    }
    devices_.capture_from_card({"realtime true", "buffer_frames 22050"});
    return {devices_.alsa_config_env(), path};
  }
  // Lines that record what the computer plays get a server playing a tone.
  static bool plays_tone(const std::string &line) {
    return has(line, "@DEFAULT_MONITOR@");
  }
  VirtualDevices devices_;
  std::unique_ptr<PulseServer> server_;
  TempDir work_;
};

TEST_P(Example, RecordsWhatItSays) {
  const std::string &line = GetParam();
  // The word naming the output file: the first that ends in one of these.
  std::string name, kind;
  std::istringstream words(line);
  for (std::string word; name.empty() && words >> word;)
    for (const char *ending : {"raw", "wav", "flac", "mp3"})
      if (word.size() > std::strlen(ending) + 1 &&
          word.compare(word.size() - std::strlen(ending), std::string::npos,
                       ending) == 0 &&
          word[word.size() - std::strlen(ending) - 1] == '.') {
        name = word;
        kind = ending;
      }
  ASSERT_FALSE(name.empty()) << line;
  const std::string path = work_.file(name);

  ChildOptions options;
  options.env = environment(line);
  Child shell({"/usr/bin/env", "-C", work_.path(), "sh", "-c", line}, options);
  // A line without its own end records until Enter, once there is a
  // second of audio to check.
  const bool ends_itself = has(line, "head -c") || has(line, "kill ");
  if (!ends_itself) {
    ASSERT_TRUE(wait_until_pcmtap_wrote(shell.pid(), kBytesPerSecond));
    shell.write_stdin("\n");
  }
  ASSERT_EQ(shell.wait(), 0) << shell.err();

  std::string audio;
  if (kind == "raw") {
    audio = read_file(path);
  } else {
    EXPECT_EQ(
        tool_output({"ffprobe", "-v", "error", "-show_entries",
                     "stream=sample_rate,channels", "-of", "csv=p=0", path}),
        "44100,2\n");
    audio =
        tool_output({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"});
  }
  // Silent: a reader that left is no error to report, and a kill that
  // finds no pcmtap (one that read the end of its input at once) says so.
  if (ends_itself) {
    EXPECT_EQ(shell.err(), "");
  }
  if (has(line, "head -c")) {
    EXPECT_EQ(audio.size(), 2 * kBytesPerSecond);
  }
  if (kind == "mp3") {
    // Lossy: the frames do not survive, the length does (give or take the
    // encoder's padding).
    EXPECT_GE(audio.size(), kBytesPerSecond * 9 / 10);
    return;
  }
  if (plays_tone(line)) {
    // The tone arrives: its pitch from the upward zero crossings of the
    // left channel.
    ASSERT_GE(audio.size(), kBytesPerSecond);
    int crossings = 0;
    int16_t last = 0;
    for (size_t i = 0; i + 4 <= audio.size(); i += 4) {
      int16_t left;
      std::memcpy(&left, &audio[i], 2);
      crossings += last < 0 && left >= 0;
      last = left;
    }
    const double seconds = static_cast<double>(audio.size()) / kBytesPerSecond;
    EXPECT_NEAR(crossings / seconds, 440, 10);
    return;
  }
  CountingCheck check = gaps_in(audio);
  EXPECT_EQ(audio.size() % 4, 0u);
  EXPECT_EQ(check.first, 0u);
  EXPECT_EQ(check.gaps, 0u);
  EXPECT_EQ(check.errors, 0u);
  EXPECT_GE(check.frames, ends_itself ? 1 : kBytesPerSecond / 4);
}

INSTANTIATE_TEST_SUITE_P(Readme, Example,
                         ::testing::ValuesIn(readme_examples()));

} // namespace
} // namespace pcmtap::test
