#include "winmm_wave.h"

#include "../windows/pcm_format.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <cstring>

namespace pcmtap {

const char *winmm_error_text(int err) {
  if (err > -kWinmmErrorBase)
    return std::strerror(-err);
  // Each thread has its own, so that a message is never overwritten
  // halfway by another thread's.
  thread_local char text[MAXERRORLENGTH];
  auto result = MMRESULT(-err - kWinmmErrorBase);
  if (waveInGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR)
    std::snprintf(text, sizeof text, "multimedia error %u", result);
  return text;
}

int query_wave_out(unsigned rate, unsigned channels) {
  WAVEFORMATEX format = pcm_format(rate, channels);
  return winmm_error(
      waveOutOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY));
}

} // namespace pcmtap
