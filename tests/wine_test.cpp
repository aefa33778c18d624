// pcmtap.exe under Wine, recording through Wine's PulseAudio driver from a
// private server's pipe source, as a Windows user runs it.
#include "checked_recording.h"
#include "process.h"
#include "pulse_server.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

namespace pcmtap::test {
namespace {

const size_t kFrames = 2 * 44100;
const size_t kFramesPerWrite = 4410;

// `pcmtap.exe --help`, whole, each line ending in CRLF: the one place to
// change when the help changes (the posix build's is in end_to_end_test.cpp).
const char kHelp[] = R"(Usage: pcmtap # = use the device # from the list below
       pcmtap - = use the default device

Records raw 16-bit little-endian stereo 44,100 Hz audio to standard
output, which must not be a terminal. Run pcmtap alone to list the
inputs, and choose one by its number or by its name as listed,
ignoring case: pcmtap "USB Headset". pcmtap "What Zoom plays"
records that program whenever it plays, waiting for it with
silence. Recording stops on Enter, at the end of standard input, or
on Ctrl+C, Ctrl+Break or closing the console window; a second
one ends pcmtap at once.

Exit status: 0 after a complete recording or listing; 1 when the
devices, the recording or the output failed; 2 for an input the
device lacks, or an output that is a terminal.

The inputs are Windows' recording endpoints, what the computer
plays, and what each program playing now plays (Windows 10 build
20348 and later), which records each process of that name as it
comes, with silence while none plays; pcmtap N records input N in
this run only, unmuting it, and leaves Windows' default device as
it is. See README.md beside pcmtap.exe for more.
)";

// Wine's client and the server share no memory (memfd and shm off on both
// sides): with it, Wine's stream stalls after its first 50 ms of audio.
ServerSetup without_shared_memory(const std::string &dir) {
  std::filesystem::create_directories(dir + "/.config/pulse");
  write_file(dir + "/.config/pulse/daemon.conf",
             "enable-shm = no\nenable-memfd = no\n");
  write_file(dir + "/.config/pulse/client.conf",
             "enable-shm = no\nenable-memfd = no\nautospawn = no\n");
  return {};
}

// The default source is a FIFO the test feeds, named beyond ASCII.
ServerSetup fed_source(const std::string &dir) {
  ServerSetup setup = without_shared_memory(dir);
  setup.script_lines = {
      "load-module module-pipe-source source_name=feed "
      "file=" +
          dir +
          "/feed format=s16le rate=44100 channels=2 "
          "source_properties='device.description=\"Entr\xC3\xA9"
          "e ligne\"'",
      "set-default-source feed"};
  return setup;
}

std::vector<std::string> wine_pcmtap(const std::string &arg = "") {
  std::vector<std::string> argv = {PCMTAP_WINE, PCMTAP_WINDOWS_EXE};
  if (!arg.empty())
    argv.push_back(arg);
  return argv;
}

// Feeds the FIFO at the pace of the audio, as a sound card would, until
// `cancel` is set.  False when it takes nothing for 20 s (a hang).
bool feed_in_real_time(const std::string &fifo, const std::string &bytes,
                       const std::atomic<bool> *cancel = nullptr) {
  const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  auto next = std::chrono::steady_clock::now();
  size_t done = 0;
  while (done < bytes.size() && !(cancel && *cancel)) {
    // A source nobody records may stop taking audio.
    pollfd p = {fd, POLLOUT, 0};
    if (::poll(&p, 1, 20000) != 1)
      break;
    const size_t n = std::min(kFramesPerWrite * 4, bytes.size() - done);
    if (::write(fd, bytes.data() + done, n) != ssize_t(n))
      break;
    done += n;
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
  ::close(fd);
  return done == bytes.size() || (cancel && *cancel);
}

// Wine reads the server's UTF-8 names, and draws its console on a
// terminal, in the Unix locale's character set: in the C locale a name
// beyond ASCII comes out garbled, so a UTF-8 one is set whatever the shell
// that runs the tests has.
ChildOptions wine_options(const std::vector<std::string> &server_env) {
  ChildOptions o;
  o.env = server_env;
  for (const char *e : {"WINEPREFIX=" PCMTAP_WINEPREFIX, "WINEDEBUG=-all",
                        "WINEDLLOVERRIDES=mscoree,mshtml=", "LC_ALL=C.UTF-8"})
    o.env.push_back(e);
  return o;
}

// Wine's server, and the processes Wine starts for a session, inherit the
// standard output and error of the Wine process that starts them and keep
// them open as long as the session lasts: a test would wait for the end of
// a pcmtap.exe's output that never comes.  So each test program starts the
// session itself, writing nowhere; it ends a few seconds after the tests.
class WineSession : public ::testing::Environment {
public:
  void SetUp() override {
    const std::string wine = PCMTAP_WINE;
    const std::string server = wine.substr(0, wine.rfind('/')) + "/wineserver";
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(nowhere, 0);
    for (const std::vector<std::string> &argv :
         {std::vector<std::string>{server, "-p5"},
          {wine, "cmd", "/c", "exit"}}) {
      pid_t pid = spawn(argv, wine_options({}).env, nowhere, nowhere, false);
      ASSERT_GT(pid, 0) << argv[0];
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    ::close(nowhere);
  }
};
const auto *const kWineSession =
    ::testing::AddGlobalTestEnvironment(new WineSession);

// A Wine run's status, marked when Wine itself crashed: scripts/test runs
// such a test once more, and never one whose checks failed.
int wine_status(int status) {
  if (status == 128 + 11)
    ADD_FAILURE() << "wine crashed (status 139)";
  return status;
}

// The pipe source's name, as Windows-1252 (the ANSI code page here) has it.
const char kFedSourceName[] = "Entr\xE9"
                              "e ligne";

// The names a listing gives, in its order.
std::vector<std::string> listed_names(const std::string &listing) {
  std::vector<std::string> names;
  const std::string key = "Name=\"";
  for (size_t at = listing.find(key); at != std::string::npos;
       at = listing.find(key, at)) {
    at += key.size();
    const size_t end = listing.find('"', at);
    if (end == std::string::npos)
      break;
    names.push_back(listing.substr(at, end - at));
    at = end;
  }
  return names;
}

class Wine : public ::testing::Test {
protected:
  Wine() : server({"load-module module-null-sink sink_name=out"}, fed_source) {}
  ChildOptions options() const { return wine_options(server.environment()); }

  // Wine numbers the endpoints in the order of the ids it gave them when
  // it first saw them, which differ from one Wine prefix to the next: the
  // number of the input called `name`, as pcmtap.exe lists it.
  std::string input_called(const std::string &name) const {
    std::vector<std::string> names =
        listed_names(run(wine_pcmtap(), options()).out);
    auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? "none"
                                : std::to_string(found - names.begin());
  }

  PulseServer server;
};

// Until Wine's client is connected the source's frames would go nowhere.
bool wait_for_client(const PulseServer &server,
                     const std::string &streams = "source-outputs") {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!server.pactl("list short " + streams).empty())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Feeds the source counting frames once pcmtap.exe's Wine client is
// connected; returns once they all came out.
void record_the_count(Child &pcmtap, const PulseServer &server) {
  ASSERT_TRUE(wait_for_client(server)) << pcmtap.err();
  // Silence after the count pushes the source's last part through.
  auto fed = std::async(
      std::launch::async, feed_in_real_time, server.dir() + "/feed",
      counting_frames(1, kFrames) + std::string(8820 * 4, '\0'), nullptr);
  EXPECT_TRUE(pcmtap.wait_until([&](const std::string &out) {
    return out.size() >= leading_silence(out) + kFrames * 4;
  })) << pcmtap.err();
  EXPECT_TRUE(fed.get());
}

// Every fed frame once, in order, byte for byte (a 0x0A byte made into two
// would shift every frame after it), from the default endpoint and from the
// source's own.
void expect_the_count(const std::string &out) {
  ASSERT_GE(out.size(), leading_silence(out) + kFrames * 4);
  EXPECT_EQ(
      first_miscounted_frame(out.substr(leading_silence(out), kFrames * 4), 1),
      -1);
  EXPECT_EQ(out.size() % 4, 0u);
}

TEST_F(Wine, RecordsTheFedFramesUntilACharacter) {
  for (const std::string &arg :
       {std::string("-"), input_called(kFedSourceName)}) {
    SCOPED_TRACE(arg);
    Child pcmtap(wine_pcmtap(arg), options());
    record_the_count(pcmtap, server);
    pcmtap.write_stdin("x");
    EXPECT_EQ(wine_status(pcmtap.wait()), 0);
    expect_the_count(pcmtap.out());
    EXPECT_EQ(pcmtap.err(), "");
  }
}

// The endpoint's source unloaded: everything it gave, then the reason.
TEST_F(Wine, ARemovedEndpointEndsTheRecordingWithEveryFrameBefore) {
  Child pcmtap(wine_pcmtap(input_called(kFedSourceName)), options());
  record_the_count(pcmtap, server);
  server.pactl("unload-module module-pipe-source");
  EXPECT_EQ(wine_status(pcmtap.wait()), 1);
  expect_the_count(pcmtap.out());
  EXPECT_EQ(pcmtap.err(), "pcmtap: recording device: the audio endpoint was "
                          "removed or disabled\r\n");
}

// A reader at half speed for 70 s, under Wine as on Linux: everything up
// to the stop arrives but what the ring could not hold, and that is said
// in one line per 10 s at most.
TEST_F(Wine, AReaderAtHalfSpeedPastTheRingHearsOfItsLossesInAFewLines) {
  const double seconds = 70;
  std::atomic<bool> cancel{false};
  auto fed = std::async(std::launch::async, [&] {
    return wait_for_client(server) &&
           feed_in_real_time(server.dir() + "/feed",
                             counting_frames(1, size_t(seconds + 30) * 44100),
                             &cancel);
  });
  std::string err = expect_a_slow_reader_to_get_all_up_to_the_stop(
      options().env, {"count", "--skip-silence", "1"}, seconds,
      wine_pcmtap("-"));
  SaidLosses said = said_losses(err, "output too slow");
  EXPECT_GT(said.seconds, 1.0) << err;
  EXPECT_LE(said.lines, size_t(seconds / 10 + 1)) << err;
  cancel = true;
  EXPECT_TRUE(fed.get());
}

// pcmtap.exe held up (stopped, as a loaded machine may hold it) for 1.5 s
// while the source goes on: under Wine the server keeps the stream's buffer
// for it and drops what does not fit without a sign.  Catches a buffer of
// less than two seconds (with one, 0.4 s was lost here, unsaid).
TEST_F(Wine, AHoldUpOfASecondAndAHalfLosesNothing) {
  std::atomic<bool> cancel{false};
  auto fed = std::async(std::launch::async, [&] {
    return wait_for_client(server) &&
           feed_in_real_time(server.dir() + "/feed",
                             counting_frames(1, 60 * 44100), &cancel);
  });
  CheckedRecording rec(options().env, {"count", "--skip-silence", "1"}, 44100,
                       wine_pcmtap("-"));
  ASSERT_TRUE(rec.wait_for_frames(44100));
  rec.recorder().send_signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  rec.recorder().send_signal(SIGCONT);
  ASSERT_TRUE(rec.wait_for_frames(4 * 44100));
  rec.recorder().write_stdin("x");
  EXPECT_EQ(wine_status(rec.recorder().wait()), 0);
  const CheckSummary s = rec.summary();
  EXPECT_EQ(s.gaps, 0u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(rec.recorder().err(), "");
  cancel = true;
  EXPECT_TRUE(fed.get());
}

// Every recording endpoint Wine makes of the server's sources (its default
// one, which is on, and each source, monitors as line-in), named in the
// ANSI code page, then what the computer plays.  (Wine 8, which cannot
// record it, refused it; the endpoint tests' fake refuses it now.)
TEST_F(Wine, ListsTheEndpointsThenWhatTheComputerPlays) {
  struct Endpoint {
    std::string name;
    const char *type;
  };
  const Endpoint endpoints[] = {{"PulseAudio Input", "microphone"},
                                {kFedSourceName, "microphone"},
                                {"Monitor of Null Output", "line-in"}};
  Result listing = run(wine_pcmtap(), options());
  const std::vector<std::string> names = listed_names(listing.out);
  ASSERT_EQ(names.size(), 4u) << listing.out;
  std::string expected =
      "Usage: pcmtap # = use the device # from the list below\r\n"
      "       pcmtap - = use the default device\r\n\r\n";
  for (size_t i = 0; i < 3; ++i) {
    const Endpoint *e = std::find_if(
        std::begin(endpoints), std::end(endpoints),
        [&](const Endpoint &endpoint) { return endpoint.name == names[i]; });
    ASSERT_NE(e, std::end(endpoints)) << names[i];
    EXPECT_EQ(std::count(names.begin(), names.end(), e->name), 1) << e->name;
    expected += (e->name == "PulseAudio Input" ? "+    " : "     ") +
                std::to_string(i) + ". Name=\"" + e->name + "\", Type=\"" +
                e->type + "\"\r\n";
  }
  expected += "     3. Name=\"What the computer plays (PulseAudio Output)\", "
              "Type=\"wave/pcm\"\r\n";
  EXPECT_EQ(listing.out, expected);
  EXPECT_EQ(wine_status(listing.status), 0);
  EXPECT_EQ(listing.err, "");
}

// Counting frames played into the default sink come out of the loopback
// input exactly, up to the character that stops it.  Wine's loopback gives
// silence while nothing plays, as Windows' does not: capture_stream_test
// has Windows' way.
TEST_F(Wine, RecordsWhatTheComputerPlays) {
  const std::string input =
      input_called("What the computer plays (PulseAudio Output)");
  ASSERT_NE(input, "none");
  Child pcmtap(wine_pcmtap(input), options());
  ASSERT_TRUE(wait_for_client(server)) << pcmtap.err();
  TempDir dir;
  // Silence first: the sink rewinds what it played ahead (up to its 2 s
  // block) to mix a new stream in at once, and its monitor never gets what
  // it played before the rewind.
  write_file(dir.file("played"), std::string(110250 * 4, '\0') +
                                     counting_frames(1, kFrames) +
                                     std::string(8820 * 4, '\0'));
  ChildOptions play;
  play.env = server.environment();
  play.stdin_path = dir.file("played");
  Result played = run({"/usr/bin/pacat", "--playback", "--raw", "--device=out",
                       "--format=s16le", "--rate=44100", "--channels=2"},
                      play);
  EXPECT_EQ(played.status, 0) << played.err;
  EXPECT_TRUE(pcmtap.wait_until([&](const std::string &out) {
    return out.size() >= leading_silence(out) + kFrames * 4;
  })) << pcmtap.err();
  pcmtap.write_stdin("x");
  EXPECT_EQ(wine_status(pcmtap.wait()), 0);
  expect_the_count(pcmtap.out());
  EXPECT_EQ(pcmtap.err(), "");
}

// A Windows program playing through Wine gets no input of its own.  Wine
// 10's sessions are each process's own, so pcmtap.exe sees none of
// another program's; a program sees its own, but Wine's
// ActivateAudioInterfaceAsync knows no process loopback device (0x80070002,
// file not found), so pcmtap's inputs made in that program leave it out
// too, and a program chosen by name is refused.  Catches a program listed
// where it cannot be recorded, one left out where it can, and one chosen
// by name taken for a name no input has (recording input 0) or refused
// without the reason.
TEST_F(Wine, AProgramThatPlaysIsListedOnlyWhereItCanBeRecorded) {
  auto playing = [](const std::string &out) {
    return out.find("playing\r\n") != std::string::npos;
  };
  Child player({PCMTAP_WINE, PCMTAP_TONE_PLAYER}, options());
  ASSERT_TRUE(player.wait_until(playing)) << player.err();
  ASSERT_TRUE(wait_for_client(server, "sink-inputs"));
  Result listing = run(wine_pcmtap(), options());
  const std::vector<std::string> names = listed_names(listing.out);
  ASSERT_EQ(names.size(), 4u) << listing.out;
  EXPECT_EQ(names[3], "What the computer plays (PulseAudio Output)");
  EXPECT_EQ(wine_status(listing.status), 0);
  EXPECT_EQ(listing.err, "");
  player.write_stdin("x");
  EXPECT_EQ(wine_status(player.wait()), 0);

  Child lister({PCMTAP_WINE, PCMTAP_TONE_PLAYER, "list"}, options());
  ASSERT_TRUE(lister.wait_until([](const std::string &out) {
    return out.find("process loopback ") != std::string::npos &&
           out.back() == '\n';
  })) << lister.err();
  lister.write_stdin("x");
  EXPECT_EQ(wine_status(lister.wait()), 0);
  const std::string out = lister.out();
  EXPECT_NE(out.find("input What the computer plays (PulseAudio Output)\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("session own\r\n"), std::string::npos) << out;
  const bool listed =
      out.find("input What tone_player.exe plays\r\n") != std::string::npos;
  const bool records =
      out.find("process loopback 0x00000000\r\n") != std::string::npos;
  EXPECT_EQ(listed, records) << out;
  EXPECT_FALSE(records) << "Wine records a program now: test what it records";

  Result refused = run(wine_pcmtap("what Zoom plays"), options());
  EXPECT_EQ(wine_status(refused.status), 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "pcmtap: what Zoom plays cannot be recorded: this "
                         "Windows has no process loopback (Windows 10 build "
                         "20348 and later have it): File not found\r\npcmtap: "
                         "cannot switch on input 4; the inputs are left as "
                         "they were\r\n");
}

// Through winmm, Wine's mixer gives the recording device no source lines,
// so its one input is the device's own line; standard output in text mode
// ends each line with CRLF, as standard error does.
TEST_F(Wine, ThroughWinmmListsInTextModeAndRefusesAnInputTheDeviceLacks) {
  ChildOptions winmm = options();
  winmm.env.push_back("PCMTAP_AUDIO=winmm");
  Result listing = run(wine_pcmtap(), winmm);
  EXPECT_EQ(listing.out,
            "Usage: pcmtap # = use the device # from the list below\r\n"
            "       pcmtap - = use the default device\r\n\r\n"
            "+    0. Name=\"Master Volume\", Type=\"microphone\"\r\n");
  EXPECT_EQ(wine_status(listing.status), 0);
  EXPECT_EQ(listing.err, "");

  Result refused = run(wine_pcmtap("1"), winmm);
  EXPECT_EQ(wine_status(refused.status), 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "pcmtap: there is no input 1 on the recording device; "
                         "run pcmtap without arguments to list the inputs\r\n");
}

// What a console shows of `output`, for finding words in it: Wine's console
// on a terminal draws each character by itself between escape sequences,
// so those and all blanks are left out.
std::string visible(const std::string &output) {
  std::string text;
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\033' && i + 1 < output.size() && output[i + 1] == '[') {
      i += 2;
      while (i < output.size() && !std::isalpha(uint8_t(output[i])))
        ++i;
    } else if (!std::isspace(uint8_t(output[i]))) {
      text += output[i];
    }
  }
  return text;
}

// On a console the live line shows, and the summary takes its place.
TEST_F(Wine, ShowsTheStatusLineOnAConsole) {
  ChildOptions o = options();
  o.stderr_terminal = true;
  Child pcmtap(wine_pcmtap("-"), o);
  EXPECT_TRUE(pcmtap.wait_until(
      [](const std::string &err) {
        return visible(err).find("Enterstops") != std::string::npos;
      },
      true))
      << pcmtap.err();
  pcmtap.write_stdin("x");
  EXPECT_EQ(wine_status(pcmtap.wait()), 0);
  EXPECT_NE(visible(pcmtap.err()).find("pcmtap:recorded0:00"),
            std::string::npos)
      << pcmtap.err();
}

// Catches the name on a console in the ANSI code page, where the console
// reads its own output code page (437 under Wine: é is 0x82), and the
// console's code page taken into a pipe or a file, which are read in the
// ANSI one (1252: 0xE9) even when pcmtap.exe runs in a console.  Wine's C
// runtime hands each byte written to a console on as the character of that
// number, which the console draws in UTF-8: the terminal shows the bytes
// pcmtap.exe wrote.
TEST_F(Wine, NamesInTheCodePageWhereTheListingIsRead) {
  ChildOptions console = options();
  console.stdout_terminal = true;
  Result on_console = run(wine_pcmtap(), console);
  EXPECT_EQ(wine_status(on_console.status), 0);
  EXPECT_NE(visible(on_console.out)
                .find("Name=\"Entr\xC2\x82"
                      "eligne\""),
            std::string::npos)
      << on_console.out;

  // In a console, its standard error on it, with the listing led away.
  console.stdout_terminal = false;
  console.stderr_terminal = true;
  auto names_fed_source = [](const std::string &listing) {
    const std::vector<std::string> names = listed_names(listing);
    return std::find(names.begin(), names.end(), kFedSourceName) != names.end();
  };
  Result into_pipe = run(wine_pcmtap(), console);
  EXPECT_EQ(wine_status(into_pipe.status), 0);
  EXPECT_TRUE(names_fed_source(into_pipe.out)) << into_pipe.out;
  TempDir dir;
  console.stdout_path = dir.file("listing");
  EXPECT_EQ(wine_status(run(wine_pcmtap(), console).status), 0);
  EXPECT_TRUE(names_fed_source(read_file(dir.file("listing"))));
}

// Catches PCMTAP_AUDIO set but empty taken as a backend's name, or as
// winmm's: it leaves the choice to pcmtap.exe, as when it is unset.
TEST_F(Wine, AnEmptyPcmtapAudioChoosesAsUnset) {
  const Result unset = run(wine_pcmtap(), options());
  ChildOptions empty = options();
  empty.env.push_back("PCMTAP_AUDIO=");
  const Result automatic = run(wine_pcmtap(), empty);
  EXPECT_NE(unset.out.find("What the computer plays"), std::string::npos)
      << unset.out;
  EXPECT_EQ(automatic.out, unset.out);
  EXPECT_EQ(automatic.err, "");
  EXPECT_EQ(wine_status(automatic.status), 0);
}

// A source that never runs dry, so that a write meets the failure.
class WineOutput : public ::testing::Test {
protected:
  WineOutput()
      : tone({"load-module module-null-sink sink_name=out",
              "load-module module-sine-source source_name=tone",
              "set-default-source tone"},
             without_shared_memory) {}
  PulseServer tone;
};

TEST_F(WineOutput, AFullDiskEndsTheRecording) {
  ChildOptions full = wine_options(tone.environment());
  full.stdout_path = "/dev/full";
  Child on_full_disk(wine_pcmtap("-"), full);
  EXPECT_EQ(wine_status(on_full_disk.wait()),
            1); // with standard input still open
  EXPECT_EQ(on_full_disk.err(),
            "pcmtap: write <stdout>: No space left on device\r\n");

  full.stdin_path = "/dev/null";
  Result listing = run(wine_pcmtap(), full);
  EXPECT_EQ(wine_status(listing.status), 1);
  EXPECT_EQ(listing.err, "pcmtap: write <stdout>: No space left on device\r\n");
}

// As on Linux, a reader that goes away ends pcmtap quietly, recording or
// listing.
TEST_F(WineOutput, AClosedPipeEndsTheRecordingQuietly) {
  Child into_pipe(wine_pcmtap("-"), wine_options(tone.environment()));
  ASSERT_TRUE(into_pipe.wait_for_output(1)) << into_pipe.err();
  into_pipe.close_output();
  EXPECT_EQ(wine_status(into_pipe.wait()), 1);
  EXPECT_EQ(into_pipe.err(), "");

  Child listing(wine_pcmtap(), wine_options(tone.environment()));
  listing.close_output();
  EXPECT_EQ(wine_status(listing.wait()), 1);
  EXPECT_EQ(listing.err(), "");
}

// No server: Wine has no recording device.  (Wine always has a playback
// device, so the library's second line cannot be had under it.)
TEST(WineStartUp, WithoutAServerSaysTheFirstLine) {
  TempDir nowhere;
  for (const char *arg : {"", "-"}) {
    Result r = run(wine_pcmtap(arg),
                   wine_options({"PULSE_SERVER=unix:" + nowhere.file("none")}));
    EXPECT_EQ(r.out, "RecordInit falied.\r\n") << arg;
    // Wine 10's waveIn has no device to open (Wine 8's had no driver).
    EXPECT_EQ(r.err, "pcmtap: no recording device: the default recording "
                     "device: A device ID has been used that is out of range "
                     "for your system. (no recording device is installed or "
                     "enabled; the default devices are chosen in Windows' "
                     "Sound settings)\r\n")
        << arg;
    EXPECT_EQ(wine_status(r.status), 1) << arg;
  }
}

// Catches any line of the help changed, lost or out of place, or ended
// without CR.
TEST(WineStartUp, TheHelpIsWholeInTextMode) {
  Result r = run(wine_pcmtap("--help"), wine_options({}));
  std::vector<std::string> expected = lines_of(kHelp);
  for (size_t i = 0; i + 1 < expected.size(); ++i)
    expected[i] += '\r';
  EXPECT_EQ(lines_of(r.out), expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(wine_status(r.status), 0);
}

// Catches scripts/wine10/wine starting the program in another folder than
// the caller's, where the relative paths it reads and writes lead elsewhere.
TEST(WineStartUp, AProgramStartsInTheCallersFolder) {
  TempDir dir;
  write_file(dir.file("in.txt"), "read here\r\n");
  Result r = run({"/bin/sh", "-c",
                  "cd \"$1\" && exec \"$2\" cmd /c \"type in.txt > out.txt\"",
                  "sh", dir.path(), PCMTAP_WINE},
                 wine_options({}));
  EXPECT_EQ(wine_status(r.status), 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out.txt")), "read here\r\n") << r.out << r.err;
}

} // namespace
} // namespace pcmtap::test
