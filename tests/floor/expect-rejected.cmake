# Runs check-glibc-floor on a program that breaks the floor. Passes when the check fails it
# with status 1 and its report matches every EXPECT_<n> pattern.
execute_process(COMMAND ${CHECK} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE report
  ERROR_VARIABLE report)
message("${report}")
if(NOT status EQUAL 1)
  message(FATAL_ERROR "check-glibc-floor returned ${status} for ${PROGRAM}, expected 1")
endif()
foreach(index RANGE 1 9)
  if(DEFINED EXPECT_${index} AND NOT report MATCHES "${EXPECT_${index}}")
    message(FATAL_ERROR "the report does not name: ${EXPECT_${index}}")
  endif()
endforeach()
