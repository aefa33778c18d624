// Standard input, output and error as pcmtap needs them, set up the way
// each platform wants.
#ifndef PCMTAP_RECORDER_STANDARD_STREAMS_H
#define PCMTAP_RECORDER_STANDARD_STREAMS_H

namespace pcmtap {

// Keeps a standard stream that the caller closed from being handed to the
// next file opened, where audio could end up.
void reserve_standard_streams();

// Whether standard output is a terminal, where raw audio only garbles.
bool output_is_terminal();

// Standard output carries samples only from here on: no byte may be
// translated, and each block goes out in one write as it comes, neither
// split at a buffer's edge nor held back waiting for the next one.
void prepare_output_for_audio();

// Why the write to standard output that just failed failed, as an errno
// value; asked on the writing thread, straight after the failure.  A reader
// that went away is EPIPE however the platform puts it.
int output_write_error();

} // namespace pcmtap

#endif
