// The input number on the command line, read the way atoi() reads it but
// without its undefined behaviour on overflow.
#ifndef PCMTAP_RECORDER_INPUT_NUMBER_H
#define PCMTAP_RECORDER_INPUT_NUMBER_H

#include <string>

namespace pcmtap {

struct InputNumber {
  // The argument is a name: it begins with neither a digit nor a sign,
  // after any white space.  It still reads as 0, as atoi() reads it.
  bool named;
  bool fits_int;    // false when the digits run past an int's range
  int value;        // valid when fits_int
  std::string text; // the sign and digits that were read, for messages
};

// Leading white space is skipped, then an optional sign, then digits up to
// the first non-digit; no digits at all read as 0.
InputNumber parse_input_number(const char *arg);

} // namespace pcmtap

#endif
