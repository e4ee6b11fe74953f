# 32-bit Windows build with Debian's mingw-w64 cross compiler: the production
# word size of the plug-in library. Nothing built here can run on this
# machine; the library is inspected instead (exported and imported names).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
