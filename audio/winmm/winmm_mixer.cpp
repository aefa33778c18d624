// The mixer calls through winmm, on the mixer of the device that
// WAVE_MAPPER records from.
#include "mixer_api.h"
#include "mixer_inputs.h"

#include <mmddk.h>

namespace pcmtap {
namespace {

// The wave-in device the mapper prefers, which is the one it records from;
// the first device where the mapper does not say (Wine answers
// WAVE_MAPPER, and keeps its default device first).
UINT preferred_wave_in() {
  DWORD device = 0;
  DWORD status = 0;
  if (waveInMessage(reinterpret_cast<HWAVEIN>(UINT_PTR(WAVE_MAPPER)),
                    DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&device),
                    DWORD_PTR(&status)) != MMSYSERR_NOERROR ||
      device >= waveInGetNumDevs())
    return 0;
  return UINT(device);
}

class WinmmMixer final : public MixerApi {
public:
  ~WinmmMixer() override {
    if (mixer_)
      mixerClose(mixer_);
  }

  // Through the mixer's own number: Wine's mixerOpen() takes a wave-in
  // number for a mixer number, and opens a playback device's mixer.
  MMRESULT open() override {
    UINT id;
    MMRESULT result =
        mixerGetID(reinterpret_cast<HMIXEROBJ>(UINT_PTR(preferred_wave_in())),
                   &id, MIXER_OBJECTF_WAVEIN);
    return result != MMSYSERR_NOERROR
               ? result
               : mixerOpen(&mixer_, id, 0, 0, MIXER_OBJECTF_MIXER);
  }
  MMRESULT get_line_info(MIXERLINEA *line, DWORD flags) override {
    return mixerGetLineInfoA(object(), line, flags | MIXER_OBJECTF_HMIXER);
  }
  MMRESULT get_line_controls(MIXERLINECONTROLSA *controls,
                             DWORD flags) override {
    return mixerGetLineControlsA(object(), controls,
                                 flags | MIXER_OBJECTF_HMIXER);
  }
  MMRESULT get_control_details(MIXERCONTROLDETAILS *details,
                               DWORD flags) override {
    return mixerGetControlDetailsA(object(), details,
                                   flags | MIXER_OBJECTF_HMIXER);
  }
  MMRESULT set_control_details(MIXERCONTROLDETAILS *details,
                               DWORD flags) override {
    return mixerSetControlDetails(object(), details,
                                  flags | MIXER_OBJECTF_HMIXER);
  }

private:
  HMIXEROBJ object() const { return reinterpret_cast<HMIXEROBJ>(mixer_); }

  HMIXER mixer_ = nullptr;
};

} // namespace

std::unique_ptr<MixerInputs> open_mixer_inputs() {
  return std::make_unique<MixerInputs>(std::make_unique<WinmmMixer>());
}

} // namespace pcmtap
