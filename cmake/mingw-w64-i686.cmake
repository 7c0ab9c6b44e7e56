# Cross-building the Windows program with mingw-w64 (32-bit), with the Windows threads model:
# the POSIX one links in the winpthreads library, built for current Windows, which imports
# functions Windows XP lacks (GetTickCount64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The download must run on the Pentium III and Athlon XP machines FS2002 pilots still keep: the
# instruction set is pinned to the i686 base (no MMX, no SSE), whatever the compiler's default.
set(CMAKE_C_FLAGS_INIT "-march=i686 -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=i686 -mtune=generic")
