# Run by CPack on the staged files, after it has stripped them: drops the compiler's .comment
# and .note sections from the programs, as Debian's own packaging tools do.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
