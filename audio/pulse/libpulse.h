// libpulse, loaded only when a sound server is to be spoken to: it brings
// some thirty libraries with it, which a recording through ALSA would pay
// for in start-up time and memory.  The pa_* functions the backend calls
// are defined here and hand on to the loaded library.
#ifndef PCMTAP_AUDIO_PULSE_LIBPULSE_H
#define PCMTAP_AUDIO_PULSE_LIBPULSE_H

namespace pcmtap {

// Loads the library on first use.  False when it is not installed: there
// is then no sound-server backend, and no pa_* function may be called.
bool libpulse_loaded();

} // namespace pcmtap

#endif
