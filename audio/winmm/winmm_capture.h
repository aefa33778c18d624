// The default recording device (WAVE_MAPPER) as a capture device.  Free of
// windows.h, which the engine need not see.
#ifndef PCMTAP_AUDIO_WINMM_WINMM_CAPTURE_H
#define PCMTAP_AUDIO_WINMM_WINMM_CAPTURE_H

#include "../engine/capture_source.h"

#include <memory>

namespace pcmtap {

// Opens it for 16-bit samples; a negative error (winmm_wave.h) when there
// is no recording device or it refuses the format.
int open_wave_in(unsigned rate, unsigned channels,
                 std::unique_ptr<CaptureSource> *out);

} // namespace pcmtap

#endif
