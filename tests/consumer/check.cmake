# Installs the build tree into a scratch prefix, builds the consumer project
# against it and checks that the consumer and the installed command agree.
# Arguments: BUILD_DIR, CONSUMER_DIR, WORK_DIR, EXAMPLE.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
foreach(f bin/lopper bin/lopper-cluster include/lopper/cluster.h include/lopper/names.h
          include/lopper/NexusTree.h share/man/man1/lopper.1 share/man/man1/lopper-cluster.1
          share/bash-completion/completions/lopper share/bash-completion/completions/lopper-cluster)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
                        -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${WORK_DIR}/build/consumer ${EXAMPLE} 3
                OUTPUT_VARIABLE from_consumer COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${prefix}/bin/lopper -N ${EXAMPLE} -L 3 -O ${WORK_DIR}/example.clu
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
file(READ ${WORK_DIR}/example.clu from_command)
if(NOT from_consumer STREQUAL from_command OR from_command STREQUAL "")
  message(FATAL_ERROR "consumer and installed lopper disagree:\n${from_consumer}\n--\n${from_command}")
endif()
