// One program's sound on a sound server, alone: a record stream on the
// monitor of each stream the program plays (pa_stream_set_monitor_stream,
// which PipeWire's PulseAudio server takes too), mixed here.  Nothing on
// the server changes: no stream is moved and no module loaded, and the
// record streams end with the connection, however pcmtap ends.
//
// The recording follows the program by its name, not a stream: the
// server's events about streams and clients say when it opens a new
// stream, leaves, or comes back.  While no stream of it plays, before it
// first plays too, the recording keeps time with silence.
#ifndef PCMTAP_AUDIO_PULSE_PROGRAM_CAPTURE_H
#define PCMTAP_AUDIO_PULSE_PROGRAM_CAPTURE_H

#include "../engine/capture_source.h"
#include "pulse_connection.h"

#include <memory>

namespace pcmtap {

// Records the program that goes by `name`, or the programs, whether or not
// it plays yet, from `server` (empty: libpulse's choice).
std::unique_ptr<CaptureSource> make_program_capture(std::string server,
                                                    std::string name,
                                                    unsigned rate,
                                                    unsigned channels);

} // namespace pcmtap

#endif
