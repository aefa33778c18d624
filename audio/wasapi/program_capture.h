// What a program plays, followed by its name, as a capture device: a
// process loopback of each process that goes by the name, opened as the
// process appears among the sessions (they are looked at four times a
// second), mixed where several play at once, and closed once the process
// has ended.  While none plays, before the first does too, the recording
// keeps time with silence; each coming and going is said once.
#ifndef PCMTAP_AUDIO_WASAPI_PROGRAM_CAPTURE_H
#define PCMTAP_AUDIO_WASAPI_PROGRAM_CAPTURE_H

#include "../engine/capture_source.h"
#include "capture_stream.h"
#include "session_api.h"

#include <memory>
#include <string>

namespace pcmtap {

// Records the processes that go by `name` among `sessions`, each opened
// through `open` (Windows' own, or a test's), on `clock`.
std::unique_ptr<CaptureSource>
make_program_capture(unsigned rate, unsigned channels, std::string name,
                     std::shared_ptr<SessionApi> sessions,
                     ProcessStreamOpener open = open_process_stream,
                     std::shared_ptr<Clock> clock = windows_clock());

} // namespace pcmtap

#endif
