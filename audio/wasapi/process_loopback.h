// What one process and its children play, as a capture stream: WASAPI's
// process loopback (Windows 10 build 20348 and later), activated through
// ActivateAudioInterfaceAsync, which is looked up when it is needed so
// that pcmtap.exe starts where mmdevapi.dll lacks it.
#ifndef PCMTAP_AUDIO_WASAPI_PROCESS_LOOPBACK_H
#define PCMTAP_AUDIO_WASAPI_PROCESS_LOOPBACK_H

#include "wasapi_stream.h"

namespace pcmtap {

// Whether this Windows has the call a process loopback is activated with.
bool has_process_loopback();

// That call, mmdevapi.dll's unless a test stands in for it through
// activate_process_loopbacks_through() to see what it is asked for.
using ActivateAudioInterface = decltype(&ActivateAudioInterfaceAsync);
void activate_process_loopbacks_through(ActivateAudioInterface activate);

// Initialized, not started, of 16-bit samples, as open_stream() opens an
// endpoint's.
HRESULT open_process_loopback(DWORD pid, unsigned rate, unsigned channels,
                              WasapiStream *out);

} // namespace pcmtap

#endif
