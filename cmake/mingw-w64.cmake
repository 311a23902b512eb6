# Cross-compiling Brantle for 64-bit Windows: the MinGW-w64 compilers, Qt and
# libusb from the cache scripts/windows-toolchain fills, the host's Qt tools,
# and Wine to run the tests.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-compilers.cmake)

if(DEFINED ENV{BRANTLE_WINDOWS_PREFIX})
  set(BRANTLE_WINDOWS_PREFIX $ENV{BRANTLE_WINDOWS_PREFIX})
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(BRANTLE_WINDOWS_PREFIX $ENV{XDG_CACHE_HOME}/brantle/mingw-qt6.4.2-libusb1.0.26)
else()
  set(BRANTLE_WINDOWS_PREFIX $ENV{HOME}/.cache/brantle/mingw-qt6.4.2-libusb1.0.26)
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${BRANTLE_WINDOWS_PREFIX})
# The host's Qt runs moc, uic, rcc and lrelease.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Tests run as Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
