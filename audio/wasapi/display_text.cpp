#include "display_text.h"

#include <windows.h>

namespace pcmtap {
namespace {

UINT display_code_page() {
  DWORD mode;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetFileType(out) == FILE_TYPE_CHAR && GetConsoleMode(out, &mode))
    return GetConsoleOutputCP();
  return GetACP();
}

} // namespace

std::string display_text(const std::wstring &text) {
  if (text.empty())
    return {};
  const UINT code_page = display_code_page();
  // UTF-8 has every character, and Windows refuses a default one for it.
  const bool has_all = code_page == CP_UTF8 || code_page == CP_UTF7;
  const DWORD flags = has_all ? 0 : WC_NO_BEST_FIT_CHARS;
  const char *missing = has_all ? nullptr : "?";
  const int wide_length = int(text.size());
  int length = WideCharToMultiByte(code_page, flags, text.data(), wide_length,
                                   nullptr, 0, missing, nullptr);
  if (length <= 0)
    return std::string(text.size(), '?');
  std::string narrow(size_t(length), '\0');
  WideCharToMultiByte(code_page, flags, text.data(), wide_length, &narrow[0],
                      length, missing, nullptr);
  return narrow;
}

} // namespace pcmtap
