// The calls a recording makes on one WASAPI capture stream, and the clock
// it keeps time by, so that a test can stand in for Windows' audio engine
// as EndpointApi stands in for its enumerator.
#ifndef PCMTAP_AUDIO_WASAPI_CAPTURE_STREAM_H
#define PCMTAP_AUDIO_WASAPI_CAPTURE_STREAM_H

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace pcmtap {

class CaptureStream {
public:
  virtual ~CaptureStream() = default;

  virtual HRESULT start() = 0;
  virtual void stop() = 0;
  // IAudioClient's GetBufferSize and GetCurrentPadding, in frames.
  virtual HRESULT buffer_frames(UINT32 *frames) = 0;
  virtual HRESULT padding(UINT32 *frames) = 0;
  // IAudioCaptureClient's GetBuffer and ReleaseBuffer; `qpc` is the time
  // the packet's first frame was recorded, on now()'s clock.
  virtual HRESULT get_buffer(BYTE **data, UINT32 *frames, DWORD *flags,
                             UINT64 *position, UINT64 *qpc) = 0;
  virtual HRESULT release_buffer(UINT32 frames) = 0;
  // Waits at most `millis` for the stream's event or for `stop`, as
  // WaitForMultipleObjects on the two does: WAIT_OBJECT_0 for the event,
  // WAIT_OBJECT_0 + 1 for the stop, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD wait(HANDLE stop, DWORD millis) = 0;
  // The performance counter, in 100 ns units.
  virtual UINT64 now() = 0;
  // For a process loopback: whether the process recorded has ended.
  virtual bool source_ended() { return false; }
};

// The clock a recording keeps time by where it has no stream of its own to
// wait on, as a program's while none of its processes plays.
class Clock {
public:
  virtual ~Clock() = default;

  // The performance counter, in 100 ns units, as CaptureStream::now().
  virtual UINT64 now() = 0;
  // Waits at most `millis` for `stop`: WAIT_OBJECT_0 for it, WAIT_TIMEOUT
  // or WAIT_FAILED.
  virtual DWORD wait(HANDLE stop, DWORD millis) = 0;
};

// Opens an initialized stream, not started, of 16-bit samples: what
// endpoint `id` records, or with `loopback` what it plays.
using CaptureStreamOpener = std::function<HRESULT(
    const std::wstring &id, bool loopback, unsigned rate, unsigned channels,
    std::shared_ptr<CaptureStream> *out)>;

// Opens the same of what process `pid` and its children play (a process
// loopback).
using ProcessStreamOpener =
    std::function<HRESULT(DWORD pid, unsigned rate, unsigned channels,
                          std::shared_ptr<CaptureStream> *out)>;

// Windows' own.
HRESULT open_capture_stream(const std::wstring &id, bool loopback,
                            unsigned rate, unsigned channels,
                            std::shared_ptr<CaptureStream> *out);
HRESULT open_process_stream(DWORD pid, unsigned rate, unsigned channels,
                            std::shared_ptr<CaptureStream> *out);
std::shared_ptr<Clock> windows_clock();

} // namespace pcmtap

#endif
