# Cross-building for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model). FFmpeg comes from ZEMO_FFMPEG_PREFIX (scripts/build-ffmpeg-win64.sh);
# programs run through Wine (scripts/wine-run.sh) for test discovery and ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(ZEMO_FFMPEG_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-win64/ffmpeg" CACHE PATH "FFmpeg built for Win64")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ZEMO_FFMPEG_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${ZEMO_FFMPEG_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The compiler's runtime (libgcc, libstdc++, winpthread) and FFmpeg are linked
# into every program and DLL: nothing of them needs to be shipped. No time
# stamp in the headers, so one commit builds to the same bytes twice.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
