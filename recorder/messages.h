// Messages for people: on standard error, which never carries audio, each
// starting with the program's name.
#ifndef PCMTAP_RECORDER_MESSAGES_H
#define PCMTAP_RECORDER_MESSAGES_H

namespace pcmtap {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void warn(const char *format, ...);

} // namespace pcmtap

#endif
