// The winmm mixer calls the inputs are read and switched through, one
// method each, so that a test can stand in for the device's mixer.
#ifndef PCMTAP_AUDIO_WINMM_MIXER_API_H
#define PCMTAP_AUDIO_WINMM_MIXER_API_H

#include <windows.h>

#include <mmsystem.h>

namespace pcmtap {

// One mixer, opened by open() and closed when this goes.  The other calls
// take the structures and flags of their winmm namesakes, without the
// handle (and its MIXER_OBJECTF_HMIXER).
class MixerApi {
public:
  virtual ~MixerApi() = default;

  // Opens the mixer of the default recording device.
  virtual MMRESULT open() = 0;
  virtual MMRESULT get_line_info(MIXERLINEA *line, DWORD flags) = 0;
  virtual MMRESULT get_line_controls(MIXERLINECONTROLSA *controls,
                                     DWORD flags) = 0;
  virtual MMRESULT get_control_details(MIXERCONTROLDETAILS *details,
                                       DWORD flags) = 0;
  virtual MMRESULT set_control_details(MIXERCONTROLDETAILS *details,
                                       DWORD flags) = 0;
};

} // namespace pcmtap

#endif
