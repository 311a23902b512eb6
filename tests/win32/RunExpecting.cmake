# cmake -DPROGRAM=<exe> [-DEMULATOR=<runner>] -DARGS=<a|b> -DSTATUS=<n>
#       [-DERROR_MATCHES=<regex>] [-DOUTPUT_MATCHES=<regex>] -P RunExpecting.cmake
#
# Runs PROGRAM (through EMULATOR when cross-built) and checks its exit status
# and what it printed, for a run whose expected outcome is a failure: CTest
# alone can check either the status or the text, not both.
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
set(failed FALSE)
if(NOT status STREQUAL STATUS)
  message(SEND_ERROR "exit status ${status}, expected ${STATUS}")
  set(failed TRUE)
endif()
if(DEFINED ERROR_MATCHES AND NOT error MATCHES "${ERROR_MATCHES}")
  message(SEND_ERROR "standard error does not match \"${ERROR_MATCHES}\"")
  set(failed TRUE)
endif()
if(DEFINED OUTPUT_MATCHES AND NOT output MATCHES "${OUTPUT_MATCHES}")
  message(SEND_ERROR "standard output does not match \"${OUTPUT_MATCHES}\"")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "standard output:\n${output}\nstandard error:\n${error}")
endif()
