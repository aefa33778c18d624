// The chosen endpoint, or program, as a capture device, opened when
// recording starts so that it follows the input switched on, through
// `open` or `open_process` (Windows' own, or a test's).
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H

#include "../engine/capture_source.h"
#include "capture_stream.h"

#include <memory>

namespace pcmtap {

struct EndpointChoice;

std::unique_ptr<CaptureSource>
make_wasapi_capture(unsigned rate, unsigned channels,
                    std::shared_ptr<const EndpointChoice> choice,
                    CaptureStreamOpener open = open_capture_stream,
                    ProcessStreamOpener open_process = open_process_stream);

} // namespace pcmtap

#endif
