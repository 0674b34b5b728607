# Writes the demo, mixed and nonsquare visits under OUT for the test suite.
foreach(preset demo mixed nonsquare)
  file(REMOVE_RECURSE ${OUT}/${preset})
  execute_process(COMMAND ${STUDYGEN} --out ${OUT}/${preset} --preset ${preset} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "studygen --preset ${preset} failed: ${rc}")
  endif()
endforeach()
