// A Windows program that plays, for pcmtap.exe's tests under Wine: a
// 440 Hz tone through winmm's default output, over and over, until a
// character or the end of standard input.  It says "playing" once the
// tone has started; with "list", then the inputs pcmtap.exe would list in
// this process, whose sessions Wine shows only to itself, and what
// Windows said of its sessions and of a process loopback of it.
#include "wasapi/endpoint_inputs.h"
#include "windows/pcm_format.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

void list_inputs() {
  using namespace pcmtap;
  HRESULT why = S_OK;
  std::shared_ptr<EndpointApi> endpoints = open_endpoint_api(&why);
  std::shared_ptr<SessionApi> sessions = open_session_api();
  if (!endpoints || !sessions) {
    std::printf("no %s\n", endpoints ? "process loopback" : "MMDevice API");
    return;
  }
  EndpointInputs inputs(endpoints, std::make_shared<EndpointChoice>(),
                        sessions);
  for (size_t i = 0; i < inputs.count(); ++i)
    std::printf("input %s\n", inputs.name(i));
  std::vector<AudioSession> found;
  const HRESULT listed = sessions->active_sessions(&found);
  std::printf("sessions 0x%08lX %u\n", static_cast<unsigned long>(listed),
              unsigned(found.size()));
  for (const AudioSession &session : found)
    std::printf("session %s\n",
                session.pid == GetCurrentProcessId() ? "own" : "other");
  const HRESULT tried = sessions->try_process(GetCurrentProcessId(), 44100, 2);
  std::printf("process loopback 0x%08lX\n", static_cast<unsigned long>(tried));
}

} // namespace

int main(int argc, char **argv) {
  const WAVEFORMATEX format = pcmtap::pcm_format(44100, 2);
  HWAVEOUT out;
  if (waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) !=
      MMSYSERR_NOERROR) {
    std::fprintf(stderr, "tone_player: no output\n");
    return 1;
  }
  std::vector<int16_t> samples(size_t{44100} * 2); // a second
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = int16_t(8000 * std::sin(double(i / 2) * 440 * 6.2832 / 44100));
  WAVEHDR header = {};
  header.lpData = reinterpret_cast<LPSTR>(samples.data());
  header.dwBufferLength = DWORD(samples.size() * sizeof samples[0]);
  header.dwLoops = 0xFFFFFFFF;
  std::atomic<bool> stop{false};
  std::thread([&stop] {
    std::getchar();
    stop = true;
  }).detach();
  const bool prepared =
      waveOutPrepareHeader(out, &header, sizeof header) == MMSYSERR_NOERROR;
  header.dwFlags |= WHDR_BEGINLOOP | WHDR_ENDLOOP;
  if (!prepared ||
      waveOutWrite(out, &header, sizeof header) != MMSYSERR_NOERROR) {
    std::fprintf(stderr, "tone_player: cannot play\n");
    return 1;
  }
  std::printf("playing\n");
  if (argc > 1 && std::strcmp(argv[1], "list") == 0)
    list_inputs();
  std::fflush(stdout);
  while (!stop)
    Sleep(50);
  waveOutReset(out);
  waveOutUnprepareHeader(out, &header, sizeof header);
  waveOutClose(out);
  return 0;
}
