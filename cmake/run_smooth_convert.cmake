# Runs smooth_convert on the bundled example in a scratch folder of the
# build tree and shows where the result went and how it begins.
#   cmake -DCONVERTER=... -DINPUT=... -DWORKDIR=... -P run_smooth_convert.cmake
file(MAKE_DIRECTORY "${WORKDIR}")
configure_file("${INPUT}" "${WORKDIR}/smooth1.txt" COPYONLY)
file(REMOVE "${WORKDIR}/smooth2.txt")
execute_process(COMMAND "${CONVERTER}" WORKING_DIRECTORY "${WORKDIR}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "smooth_convert failed (exit status ${status})")
endif()
file(STRINGS "${WORKDIR}/smooth2.txt" lines)
list(LENGTH lines count)
list(SUBLIST lines 0 12 head)
list(JOIN head "\n" head)
message("== smooth_convert ==\n"
        "read  ${WORKDIR}/smooth1.txt\n"
        "wrote ${WORKDIR}/smooth2.txt (${count} lines); it begins:\n${head}\n...")
