# Builds the adapter firmware image from source, in script mode:
#   cmake -DSDCC=... -DSDAS=... -DOBJCOPY=... -DSOURCES=a.c|b.c -DASM_SOURCES=x.asm
#         -DINCLUDES=dir|dir -DWORK_DIR=... -DIMAGE=... -P BuildImage.cmake
# The build directory only; CMakeLists.txt runs this at build time and the
# reproducibility test runs it a second time into a scratch directory.
#
# The image is the FX2's 16 KiB RAM as loaded: byte k = address k, every byte
# that nothing occupies is 0xAA.

foreach(var SDCC SDAS OBJCOPY SOURCES ASM_SOURCES INCLUDES WORK_DIR IMAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildImage.cmake: ${var} is not set")
  endif()
endforeach()

foreach(var SOURCES ASM_SOURCES INCLUDES)
  string(REPLACE "|" ";" ${var} "${${var}}")
endforeach()

file(MAKE_DIRECTORY "${WORK_DIR}")

set(include_flags)
foreach(dir IN LISTS INCLUDES)
  list(APPEND include_flags "-I${dir}")
endforeach()

function(run)
  execute_process(COMMAND ${ARGN}
    WORKING_DIRECTORY "${WORK_DIR}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(out OR err)
    message("${out}${err}")
  endif()
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    message(FATAL_ERROR "firmware build step failed (${rc}): ${cmd}")
  endif()
endfunction()

# main.c comes first: its module carries the interrupt vectors at address 0.
set(objects)
foreach(src IN LISTS SOURCES)
  get_filename_component(name "${src}" NAME_WE)
  run("${SDCC}" -mmcs51 --model-small --std-c11 ${include_flags} -c "${src}" -o "${name}.rel")
  list(APPEND objects "${name}.rel")
endforeach()
foreach(src IN LISTS ASM_SOURCES)
  get_filename_component(name "${src}" NAME_WE)
  configure_file("${src}" "${WORK_DIR}/${name}.asm" COPYONLY)
  run("${SDAS}" -plosgff "${name}.rel" "${name}.asm")
  list(APPEND objects "${name}.rel")
endforeach()

# Code from 0; the code-size bound covers the autovector table at 0x3F00, so
# the layout test checks that the code stays below the command buffer. The
# few xdata variables SDCC may need go to the chip's scratch RAM at 0xE000,
# away from the buffer.
run("${SDCC}" -mmcs51 --model-small
    --code-loc 0x0000 --code-size 0x4000
    --xram-loc 0xE000 --iram-size 256
    -o firmware.ihx ${objects})

get_filename_component(image_dir "${IMAGE}" DIRECTORY)
file(MAKE_DIRECTORY "${image_dir}")
run("${OBJCOPY}" -I ihex -O binary --gap-fill 0xAA --pad-to 0x4000 firmware.ihx "${IMAGE}")

file(SIZE "${IMAGE}" size)
if(NOT size EQUAL 16384)
  message(FATAL_ERROR "firmware image is ${size} bytes, not 16384: the code outgrew the RAM")
endif()
