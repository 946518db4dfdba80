# Cross toolchain for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
#
# Libraries are looked up in the MinGW sysroot (zlib comes from Debian's MinGW
# package there) and in the prefix that scripts/build-mingw-deps.sh fills with
# libpng, tinyxml2, GoogleTest and the Boost header link.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVT_MINGW_TRIPLE}-windres)

if(DEFINED ENV{QVT_MINGW_DEPS})
  set(QVT_MINGW_DEPS_PREFIX "$ENV{QVT_MINGW_DEPS}")
else()
  get_filename_component(QVT_MINGW_DEPS_PREFIX
    "${CMAKE_CURRENT_LIST_DIR}/../build/deps/${QVT_MINGW_TRIPLE}" ABSOLUTE)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${QVT_MINGW_TRIPLE} "${QVT_MINGW_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime and libraries: QVT.exe and the test programs run without any
# DLL beside them, on Windows and under Wine alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
