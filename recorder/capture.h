// Capture mode: picks the input, records, and streams every block to
// standard output until told to stop.
#ifndef PCMTAP_RECORDER_CAPTURE_H
#define PCMTAP_RECORDER_CAPTURE_H

namespace pcmtap {

// Returns the process's exit status.  The library must be started.
int capture_mode(const char *arg);

} // namespace pcmtap

#endif
