# What both Windows toolchains share; each sets PCMTAP_MINGW (the target
# triple) and PCMTAP_WINE (the Wine loader that runs its programs: Wine 10
# from the root scripts/wine10-root makes) first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix thread model: GCC 12's default win32 one has no std::thread and
# no std::mutex.
set(CMAKE_C_COMPILER ${PCMTAP_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PCMTAP_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PCMTAP_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PCMTAP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthread go into every program, tests included, so
# that it needs nothing beside it but the DLLs Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows programs under Wine, in a prefix of the build's own
# that tests/windows/wine_prefix.sh makes.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PCMTAP_WINE})
