# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers. The
# POSIX-threads variant: the win32 one has no std::thread or std::mutex, and
# the plain x86_64-w64-mingw32-g++ name may point to it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

# Qt and libusb cross-built by scripts/windows-toolchain, in its cache folder.
if(DEFINED ENV{BRANTLE_WINDOWS_PREFIX})
  set(BRANTLE_WINDOWS_PREFIX $ENV{BRANTLE_WINDOWS_PREFIX})
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(BRANTLE_WINDOWS_PREFIX $ENV{XDG_CACHE_HOME}/brantle/mingw-qt6.4.2-libusb1.0.26)
else()
  set(BRANTLE_WINDOWS_PREFIX $ENV{HOME}/.cache/brantle/mingw-qt6.4.2-libusb1.0.26)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} ${BRANTLE_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's Qt runs moc, uic, rcc and lrelease.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Tests run as Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
