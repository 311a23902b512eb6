# The installer (NSIS, 64-bit, per machine, English and Japanese pages) and a
# zip of the same files for portable use, both made from an install of the
# build into a staging folder:
#   cmake --build --preset windows --target windows_installer windows_zip
find_program(BRANTLE_MAKENSIS makensis)
find_program(BRANTLE_MINGW_STRIP x86_64-w64-mingw32-strip REQUIRED)
set(stage ${PROJECT_BINARY_DIR}/stage)
set(BRANTLE_WINDOWS_INSTALLER ${PROJECT_BINARY_DIR}/brantle-${PROJECT_VERSION}-win64-setup.exe
  CACHE INTERNAL "")
set(BRANTLE_WINDOWS_ZIP ${PROJECT_BINARY_DIR}/brantle-${PROJECT_VERSION}-win64.zip CACHE INTERNAL "")

add_custom_target(windows_stage
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${stage}/Brantle
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${stage}/Brantle -DSTRIP=${BRANTLE_MINGW_STRIP}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/StripStage.cmake
  DEPENDS brantle brantle-sim brantle-cli windows_runtime
  COMMENT "Installing into ${stage}/Brantle"
  VERBATIM)

add_custom_target(windows_installer
  COMMAND ${CMAKE_COMMAND}
    -DSTAGE=${stage}/Brantle
    -DTEMPLATE=${CMAKE_CURRENT_SOURCE_DIR}/brantle.nsi.in
    -DWORK=${PROJECT_BINARY_DIR}/installer
    -DOUT=${BRANTLE_WINDOWS_INSTALLER}
    -DMAKENSIS=${BRANTLE_MAKENSIS}
    -DVERSION=${PROJECT_VERSION}
    -DLICENSE=${PROJECT_SOURCE_DIR}/packaging/copyright
    -P ${CMAKE_CURRENT_SOURCE_DIR}/MakeInstaller.cmake
  DEPENDS windows_stage
  VERBATIM)

add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E rm -f ${BRANTLE_WINDOWS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${BRANTLE_WINDOWS_ZIP} --format=zip Brantle
  WORKING_DIRECTORY ${stage}
  DEPENDS windows_stage
  COMMENT "Zipping ${BRANTLE_WINDOWS_ZIP}"
  VERBATIM)
