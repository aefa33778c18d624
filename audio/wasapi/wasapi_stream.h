// A shared-mode, event-driven stream of 16-bit samples from one endpoint:
// what the endpoint records, or with `loopback` what a render endpoint
// plays.  Recording and the check of an endpoint open it the same way.
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_STREAM_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_STREAM_H

#include "com_ref.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <memory>
#include <string>

namespace pcmtap {

// The buffer every stream asks for, two seconds: what comes while
// pcmtap.exe is held up (on a loaded machine) for less is kept.  Windows
// marks a loss beyond it; under Wine the sound server keeps this much for
// the stream, and what it drops beyond leaves no sign.
const REFERENCE_TIME kStreamBufferDuration = 20000000;

struct WasapiStream {
  ComRef<IAudioClient> client;
  ComRef<IAudioCaptureClient> capture;
};

// The endpoint with this enumerator ID.
HRESULT open_device(const std::wstring &id, ComRef<IMMDevice> *out);

// Initialized, not started; the caller sets the event and starts it.
HRESULT open_stream(const std::wstring &id, bool loopback, unsigned rate,
                    unsigned channels, WasapiStream *out);

class CaptureStream;

// The stream as the recording sees it.  For a process loopback, `process`
// is the process recorded (a handle to wait on, taken over; or null) and
// `frames` the buffer asked for, since such a stream cannot say its own.
HRESULT make_capture_stream(WasapiStream stream, HANDLE process, UINT32 frames,
                            std::shared_ptr<CaptureStream> *out);

} // namespace pcmtap

#endif
