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

// The help's lines that differ by platform: what ends a recording, and
// where to read more.
extern const char *const kWaysToStop;
extern const char *const kMoreHelp;

} // namespace pcmtap

#endif
