#include "input_number.h"

#include <cctype>
#include <climits>

namespace pcmtap {

InputNumber parse_input_number(const char *arg) {
  const char *at = arg;
  while (std::isspace(static_cast<unsigned char>(*at)))
    ++at;
  const bool named = !std::isdigit(static_cast<unsigned char>(*at)) &&
                     *at != '+' && *at != '-';
  std::string text;
  bool negative = false;
  if (*at == '+' || *at == '-') {
    negative = *at == '-';
    text += *at++;
  }
  // Accumulated as a magnitude, stopping once it can no longer fit.
  const long long limit = negative ? -(long long)INT_MIN : INT_MAX;
  long long magnitude = 0;
  bool fits = true;
  for (; std::isdigit(static_cast<unsigned char>(*at)); ++at) {
    text += *at;
    if (fits) {
      magnitude = magnitude * 10 + (*at - '0');
      fits = magnitude <= limit;
    }
  }
  if (text.empty() || text == "+" || text == "-")
    text += '0';
  int value = 0;
  if (fits)
    value = negative ? int(-magnitude) : int(magnitude);
  return {named, fits, value, text};
}

} // namespace pcmtap
