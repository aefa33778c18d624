// Windows' names are UTF-16; pcmtap prints 8-bit text through the C
// runtime, which passes its bytes on unchanged.
#ifndef PCMTAP_AUDIO_WASAPI_DISPLAY_TEXT_H
#define PCMTAP_AUDIO_WASAPI_DISPLAY_TEXT_H

#include <string>

namespace pcmtap {

// `text` in the code page it is read in where pcmtap prints: a console's
// output code page when standard output is a console, otherwise the ANSI
// code page, as a file or pipe is read; a character the code page lacks
// becomes '?'.
std::string display_text(const std::wstring &text);

} // namespace pcmtap

#endif
