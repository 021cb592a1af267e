# Cross build for Windows with the posix-thread flavour of mingw-w64, for the processor that
# the including toolchain file names (i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(KV_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows test programs run under Wine in the build tree's private prefix (i686 programs in a
# 64-bit Windows, or with KV_WINEARCH=win32 in a 32-bit one).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
