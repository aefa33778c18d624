// The one sample format pcmtap records on Windows: 16-bit PCM.
#ifndef PCMTAP_AUDIO_WINDOWS_PCM_FORMAT_H
#define PCMTAP_AUDIO_WINDOWS_PCM_FORMAT_H

#include <windows.h>

#include <mmreg.h>
#include <mmsystem.h>

namespace pcmtap {

inline WAVEFORMATEX pcm_format(unsigned rate, unsigned channels) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(channels);
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = WORD(2 * channels);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  return format;
}

} // namespace pcmtap

#endif
