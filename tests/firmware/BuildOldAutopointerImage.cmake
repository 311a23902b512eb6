# Builds the firmware once more, from a copy of its sources whose register
# header declares XAUTODAT1/2 where an earlier header had them: as SFRs 0x9C
# and 0x9F, which the chip does not have. The image that comes out copies
# nothing through the auto-pointers; tests run it to show that the emulated
# chip catches such a mistake.
#   cmake -DFIRMWARE_DIR=... -DWORK_DIR=... -DIMAGE=... <BuildImage args> -P BuildOldAutopointerImage.cmake
foreach(var FIRMWARE_DIR WORK_DIR IMAGE SOURCES ASM_SOURCES INCLUDES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildOldAutopointerImage.cmake: ${var} is not set")
  endif()
endforeach()

set(copy_dir "${WORK_DIR}/src")
file(REMOVE_RECURSE "${copy_dir}")
file(MAKE_DIRECTORY "${copy_dir}")
file(GLOB firmware_files "${FIRMWARE_DIR}/*.c" "${FIRMWARE_DIR}/*.h" "${FIRMWARE_DIR}/*.asm")
file(COPY ${firmware_files} DESTINATION "${copy_dir}")

file(READ "${copy_dir}/fx2_registers.h" header)
set(patched "${header}")
string(REPLACE "FX2_XREG(XAUTODAT1, 0xE67B);" "__sfr __at(0x9C) XAUTODAT1;" patched "${patched}")
string(REPLACE "FX2_XREG(XAUTODAT2, 0xE67C);" "__sfr __at(0x9F) XAUTODAT2;" patched "${patched}")
if(patched STREQUAL header)
  message(FATAL_ERROR "the register header no longer declares XAUTODAT1/2 as expected")
endif()
file(WRITE "${copy_dir}/fx2_registers.h" "${patched}")

# The same build, on the copies.
string(REPLACE "${FIRMWARE_DIR}" "${copy_dir}" SOURCES "${SOURCES}")
string(REPLACE "${FIRMWARE_DIR}" "${copy_dir}" ASM_SOURCES "${ASM_SOURCES}")
string(REPLACE "${FIRMWARE_DIR}" "${copy_dir}" INCLUDES "${INCLUDES}")
set(WORK_DIR "${WORK_DIR}/sdcc")
include("${FIRMWARE_DIR}/BuildImage.cmake")
