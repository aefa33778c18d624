// The chosen endpoint as a capture device, opened when recording starts so
// that it follows the input switched on.  Free of windows.h, which the
// engine need not see.
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H

#include "../engine/capture_source.h"

#include <memory>

namespace pcmtap {

struct EndpointChoice;

std::unique_ptr<CaptureSource>
make_wasapi_capture(unsigned rate, unsigned channels,
                    std::shared_ptr<const EndpointChoice> choice);

} // namespace pcmtap

#endif
