// Listing mode: how to call pcmtap, then the recording device's inputs.
#ifndef PCMTAP_RECORDER_LISTING_H
#define PCMTAP_RECORDER_LISTING_H

namespace pcmtap {

// The name of input `input`'s type, as the listing prints it.
const char *input_type_name(int input);

// Prints the listing and ends the process.  The library must be started.
[[noreturn]] void listing_mode();

} // namespace pcmtap

#endif
