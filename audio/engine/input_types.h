// The type code of an input, guessed from the name the mixer gives it, and
// names made fit for the listing.
#ifndef PCMTAP_AUDIO_ENGINE_INPUT_TYPES_H
#define PCMTAP_AUDIO_ENGINE_INPUT_TYPES_H

#include "../bass.h"

#include <string>
#include <vector>

namespace pcmtap {

// One of the BASS_INPUT_TYPE_* codes; BASS_INPUT_TYPE_UNDEF when no word of
// the name says what the input is.
DWORD input_type_from_name(const char *name);
// `names` made fit to print and unique: control characters become spaces,
// and a name seen before gets " 2", " 3", ... after it.
void make_names_unique(std::vector<std::string> *names);
// Whether two names are the same, ignoring the case of their letters, as
// an input asked for by name is found.
bool same_name(const std::string &a, const std::string &b);

} // namespace pcmtap

#endif
