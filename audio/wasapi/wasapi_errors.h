// The errors of the WASAPI backend: a negative errno, or a failed HRESULT,
// which is negative as an int and far below every errno.
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_ERRORS_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_ERRORS_H

namespace pcmtap {

// Windows' own text for an HRESULT; words of ours for the AUDCLNT_ codes,
// which Windows has no text for; strerror() for an errno.
const char *wasapi_error_text(int err);

} // namespace pcmtap

#endif
