// The type code of an input, guessed from the name the mixer gives it.
#ifndef PCMTAP_AUDIO_ENGINE_INPUT_TYPES_H
#define PCMTAP_AUDIO_ENGINE_INPUT_TYPES_H

#include "../bass.h"

namespace pcmtap {

// One of the BASS_INPUT_TYPE_* codes; BASS_INPUT_TYPE_UNDEF when no word of
// the name says what the input is.
DWORD input_type_from_name(const char *name);

} // namespace pcmtap

#endif
