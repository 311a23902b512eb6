# brantle_add_qtest(NAME SOURCES <files...> LIBS <targets...> [WRAPPER <command...>])
# One QtTest executable registered with CTest under the same name, run
# headless. Tests that only make sense on Linux carry the label "linux",
# which the windows test preset leaves out. WRAPPER runs the executable under another program (an environment
# set-up such as umockdev-wrapper).
function(brantle_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  if(ARG_WRAPPER)
    add_test(NAME ${name} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${name}>)
  else()
    # By target name, so that a cross build runs it through its emulator.
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
