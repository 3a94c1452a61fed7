# Cross-builds for 64-bit Windows with Debian's mingw-w64. The POSIX-thread
# flavour of the compilers, since the default one's libstdc++ has no std::thread;
# the compiler's runtime and winpthread are linked in, so that no MinGW DLL has to
# travel with the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Where scripts/build-windows built the libraries Debian has no mingw package of.
set(LAUNCHER_WINDOWS_DEPS "" CACHE PATH "Folder of the Windows libraries built by scripts/windows-deps")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LAUNCHER_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple} ${LAUNCHER_WINDOWS_DEPS} ${LAUNCHER_WINDOWS_DEPS}/qt)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${LAUNCHER_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
