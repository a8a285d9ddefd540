# Run by CPack once the files to pack are staged: each takes the packages'
# time stamp, whatever its source file's, so that a tree whose files are
# older than its commit packs the same bytes as a fresh clone.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
if(staged)
  execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${staged} RESULT_VARIABLE touched)
  if(NOT touched EQUAL 0)
    message(FATAL_ERROR "the staged files could not be given the packages' time stamp")
  endif()
endif()
