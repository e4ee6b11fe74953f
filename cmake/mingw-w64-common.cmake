# Shared by the mingw-w64 toolchain files; KORVEL_MINGW_TRIPLET names the
# target. The "-posix" flavour of the compilers is used: its C++ run-time has
# std::thread and std::mutex, which the "-win32" flavour of GCC 12 lacks.
set(CMAKE_C_COMPILER ${KORVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVEL_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${KORVEL_MINGW_TRIPLET}-objdump)

# Libraries and headers of the target come only from the cross sysroot;
# programs run during the build are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's run-time libraries (libgcc, libstdc++, winpthread) are linked
# in, so that the programs and the plug-in library need no DLL beyond those of
# Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
