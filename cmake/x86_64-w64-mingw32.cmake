# The same build for 64-bit Windows, for testing under 64-bit Wine where the
# kernel runs no 32-bit programs (and so no 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PCMTAP_MINGW x86_64-w64-mingw32)
get_filename_component(PCMTAP_WINE
  ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine10/wine64 ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
