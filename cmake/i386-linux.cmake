# Builds the Linux i386 launcher with the host compiler in 32-bit mode (Debian's g++-multilib).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(LAUNCHER_ARCH_DIR "i386" CACHE STRING "Architecture directory name inside a Java runtime")
# The distribution's GoogleTest libraries are 64-bit only; build it from its sources instead.
set(LAUNCHER_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from /usr/src/googletest")
