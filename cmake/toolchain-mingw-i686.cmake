# 32-bit Windows with the posix thread model of mingw-w64 (std::thread, std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Doubles are doubles: the library's floating-point rules (blink timing, volts, degrees, lux, the
# controller's curve, scaling) give on this build exactly what they give on the 64-bit Linux build.
# Left to the x87 unit, intermediate results keep 80 bits, and a quotient such as 100 / 0.2 stays
# just below 500 and truncates one lower. Every processor this product runs on has SSE2. Callers
# (applications, Windows starting a thread) keep the stack aligned to 4 bytes only, so functions
# that keep SSE values on the stack align it themselves.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
