# Run by CPack on the staged files, after it has stripped them: drops the compiler's .comment
# and .note sections from the programs, as Debian's own packaging tools do, and clamps the
# file times.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()

# Every file's time is clamped to SOURCE_DATE_EPOCH (the date of the latest changelog entry),
# so that two builds of the same sources give the same package.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" -newermt "@$ENV{SOURCE_DATE_EPOCH}"
                          -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot clamp the file times to SOURCE_DATE_EPOCH")
  endif()
endif()
