# The same build for 64-bit Windows, for testing under 64-bit Wine where the
# kernel runs no 32-bit programs (and so no 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PCMTAP_MINGW x86_64-w64-mingw32)
set(PCMTAP_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
