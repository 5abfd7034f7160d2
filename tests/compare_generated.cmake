# Runs a table generator and fails when its output differs from the
# committed source.  -DGEN=<generator> -DREF=<committed file>
execute_process(COMMAND ${GEN} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${GEN} failed: ${rc}")
endif()
file(READ ${REF} ref)
if(NOT out STREQUAL ref)
  message(FATAL_ERROR "${REF} differs from what ${GEN} writes; regenerate it")
endif()
