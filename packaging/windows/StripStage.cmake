# Strips every program and DLL in the staging folder: the runtime DLLs come
# from their builds with their symbols, which only make the download larger.
file(GLOB_RECURSE binaries ${STAGE}/*.dll ${STAGE}/*.exe)
foreach(binary IN LISTS binaries)
  execute_process(COMMAND ${STRIP} --strip-unneeded ${binary} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot strip ${binary}")
  endif()
endforeach()
