// What waveIn and waveOut share: this backend's error codes and the check
// of the default output device.  Free of windows.h, which the engine need
// not see.
#ifndef PCMTAP_AUDIO_WINMM_WINMM_WAVE_H
#define PCMTAP_AUDIO_WINMM_WINMM_WAVE_H

namespace pcmtap {

// Errors of this backend are negative: -errno, or a winmm result code
// moved below every errno.
const int kWinmmErrorBase = 10000;
inline int winmm_error(unsigned result) {
  return result == 0 ? 0 : -(kWinmmErrorBase + int(result));
}
// Windows' own text for a winmm result (waveInGetErrorText), strerror()
// for an errno.
const char *winmm_error_text(int err);

// Whether the default output device takes 16-bit samples at this rate and
// channel count: 0, or a negative error.  Nothing is played.
int query_wave_out(unsigned rate, unsigned channels);

} // namespace pcmtap

#endif
