# Cross-builds pcmtap.exe for 32-bit Windows with mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PCMTAP_MINGW i686-w64-mingw32)
get_filename_component(PCMTAP_WINE
  ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine10/wine ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
