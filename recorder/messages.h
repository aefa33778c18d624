// Messages for people: on standard error, which never carries audio, each
// starting with the program's name.
#ifndef PCMTAP_RECORDER_MESSAGES_H
#define PCMTAP_RECORDER_MESSAGES_H

namespace pcmtap {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void warn(const char *format, ...);

// Once text for people is printed to standard output: 0 when it reached it,
// else 1 after saying why.
int text_output_status();

} // namespace pcmtap

#endif
