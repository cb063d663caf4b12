# cmake --install into a fresh prefix puts the four programs into bin and the README
# and the example network into share/rainglm.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/occmodel bin/amtmodel bin/dailygen bin/raincsv share/rainglm/README.md
          share/rainglm/example/siteinfo.def share/rainglm/example/csv/daily.csv share/rainglm/example/csv/stations.csv)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "missing after install: ${f}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
