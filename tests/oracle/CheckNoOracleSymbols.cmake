# cmake -DNM=<nm> -DLIBRARIES=<a|b> -DPROGRAMS=<p|q> -DCONTROL=<exe> -P CheckNoOracleSymbols.cmake
#
# Lists the symbols the oracle libraries define themselves (strong, global:
# weak ones such as inline functions of Qt's headers belong to everybody) and
# fails when a program defines any of them. The control executable links the
# oracles: every library must show up there, or the check could not see one.

if(NOT NM OR NOT EXISTS "${NM}")
  message("SKIP: no nm that reads these programs (a cross or non-ELF build)")
  return()
endif()
string(REPLACE "|" ";" LIBRARIES "${LIBRARIES}")
string(REPLACE "|" ";" PROGRAMS "${PROGRAMS}")

# Strong global definitions of `file`, mangled (demangled names hold
# characters that CMake lists do not keep), into `out`.
function(defined_symbols file out)
  execute_process(COMMAND "${NM}" -g --defined-only "${file}"
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${file}: ${errors}")
  endif()
  string(REGEX MATCHALL "[0-9a-fA-F]+ [TDBR] [^\n]+" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]+ [TDBR] " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The symbols of `names` that `file` defines, into `out`.
function(found_in file names out)
  execute_process(COMMAND "${NM}" -g --defined-only "${file}"
    OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${file}")
  endif()
  if(NOT text MATCHES "[0-9a-fA-F]+ T main\n")
    message(FATAL_ERROR "${file} has no symbol table to look in (stripped?)")
  endif()
  set(found "")
  foreach(name IN LISTS names)
    string(FIND "${text}" " ${name}\n" at)
    if(NOT at EQUAL -1)
      list(APPEND found "${name}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(all "")
foreach(library IN LISTS LIBRARIES)
  defined_symbols("${library}" names)
  list(LENGTH names count)
  if(count EQUAL 0)
    message(FATAL_ERROR "${library} defines no symbols: nothing to look for")
  endif()
  found_in("${CONTROL}" "${names}" seen)
  if(NOT seen)
    message(FATAL_ERROR "none of the ${count} symbols of ${library} shows in ${CONTROL}, "
                        "which links it: the check would miss it")
  endif()
  list(APPEND all ${names})
endforeach()
list(REMOVE_DUPLICATES all)
list(LENGTH all total)

set(failed FALSE)
foreach(program IN LISTS PROGRAMS)
  found_in("${program}" "${all}" leaked)
  if(leaked)
    list(LENGTH leaked n)
    list(JOIN leaked "\n  " shown)
    message(SEND_ERROR "${program} carries ${n} symbols of the test oracles:\n  ${shown}")
    set(failed TRUE)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "${total} oracle symbols, none in the programs")
endif()
