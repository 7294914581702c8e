# Runs the canary under the emulator and insists on its line and its exit status 7.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 7 OR NOT output MATCHES "canary ran")
  message(FATAL_ERROR "wine did not run ${PROGRAM} (exit ${status}): ${output}${errors}")
endif()
message(STATUS "the canary ran under wine and exited 7")
