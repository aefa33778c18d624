// The pieces of the status line and of the summary, as text.
#ifndef PCMTAP_RECORDER_STATUS_TEXT_H
#define PCMTAP_RECORDER_STATUS_TEXT_H

#include <cstdint>
#include <string>

namespace pcmtap {

// "0:05.2", or "1:02:03.4" from an hour on.
std::string clock_text(double seconds);
// "2.2 MB".
std::string size_text(uint64_t bytes);
// One channel's meter: "L ######.. -12.3 CLIP".
std::string meter_text(char name, unsigned magnitude, bool clipped);
// The figure of a library message "...: 2.35 s of audio lost ...", or 0.
double lost_seconds_in(const std::string &line);

} // namespace pcmtap

#endif
