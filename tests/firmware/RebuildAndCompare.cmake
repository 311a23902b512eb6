# Builds the firmware image from scratch with the build's own script and
# fails unless the bytes equal REFERENCE.
file(REMOVE_RECURSE "${WORK_DIR}")
include("${BUILD_SCRIPT}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${IMAGE}" "${REFERENCE}"
  RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "a second build of the firmware gave different bytes: ${IMAGE} vs ${REFERENCE}")
endif()
message(STATUS "second build identical to ${REFERENCE}")
