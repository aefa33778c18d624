#include "wasapi_errors.h"

#include <windows.h>

#include <audioclient.h>

#include <cstdio>
#include <cstring>

namespace pcmtap {
namespace {

// Below this, an error is an HRESULT: every failure code has its top bit
// set.
const int kLowestErrno = -65536;

struct AudioClientText {
  HRESULT code;
  const char *text;
};

const AudioClientText kAudioClientTexts[] = {
    {AUDCLNT_E_DEVICE_INVALIDATED,
     "the audio endpoint was removed or disabled"},
    {AUDCLNT_E_WRONG_ENDPOINT_TYPE,
     "this audio system cannot capture what an output plays (it has no "
     "loopback capture)"},
    {AUDCLNT_E_UNSUPPORTED_FORMAT,
     "the endpoint does not take 16-bit PCM at this rate"},
    {AUDCLNT_E_DEVICE_IN_USE, "another program uses the endpoint exclusively"},
    {AUDCLNT_E_SERVICE_NOT_RUNNING, "the Windows Audio service is not running"},
    {AUDCLNT_E_ENDPOINT_CREATE_FAILED, "the endpoint could not be started"},
    {AUDCLNT_E_CPUUSAGE_EXCEEDED, "the audio engine ran out of time"},
    {AUDCLNT_E_RESOURCES_INVALIDATED,
     "the endpoint's resources were taken away"},
};

} // namespace

const char *wasapi_error_text(int err) {
  if (err > kLowestErrno)
    return std::strerror(-err);
  // Each thread has its own, so that a message is never overwritten
  // halfway by another thread's.
  thread_local char text[256];
  auto code = HRESULT(err);
  for (const AudioClientText &entry : kAudioClientTexts)
    if (entry.code == code)
      return entry.text;
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, DWORD(code), 0, text, sizeof text, nullptr);
  // Windows ends its texts with a full stop and a line end; ours go on.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.'))
    text[--length] = '\0';
  if (length == 0)
    std::snprintf(text, sizeof text, "error 0x%08lX",
                  static_cast<unsigned long>(code));
  return text;
}

} // namespace pcmtap
