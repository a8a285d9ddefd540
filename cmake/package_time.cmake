# Read by CPack as it packs, so that every time stamp in a package is that
# of the commit packed, even one made after the build was configured: the
# commit's time (or, in a tree without git, that of CMakeLists.txt), unless
# the caller set SOURCE_DATE_EPOCH.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CPACK_NUMTOOLS_SOURCE_DIR}
    OUTPUT_VARIABLE package_time OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR package_time STREQUAL "")
    file(TIMESTAMP ${CPACK_NUMTOOLS_SOURCE_DIR}/CMakeLists.txt package_time "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${package_time})
endif()
