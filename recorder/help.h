// --help and --version: what pcmtap is and how to call it, with no device
// touched.
#ifndef PCMTAP_RECORDER_HELP_H
#define PCMTAP_RECORDER_HELP_H

namespace pcmtap {

// The listing starts with the same lines.
void print_usage();

// True for exactly "--help" or "--version"; any other argument that starts
// with '-' records.
bool is_help_option(const char *arg);

// Prints the help or the version; returns the exit status.
int help_mode(const char *arg);

} // namespace pcmtap

#endif
