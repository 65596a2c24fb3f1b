# Installs the built library into a private prefix, then configures, builds
# and runs a small outside project that uses find_package(Vorlin).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
set(extra)
if(SANITIZE)
  list(APPEND extra "-DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer/project
    -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix} ${extra}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure of the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "build of the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/vorlin_consumer RESULT_VARIABLE rc
  OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(rc)
  message(FATAL_ERROR "consumer failed: ${rc}")
endif()
