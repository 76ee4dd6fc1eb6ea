# Fails when any of FILES (libraries, programs) defines or refers to one of
# the test hooks: the allocator's, and the routines only the tests call. Each file must show the allocator itself, so
# that an unreadable or stripped file cannot pass unseen.
# Arguments: NM, FILES.
foreach(file ${FILES})
  execute_process(COMMAND ${NM} -C ${file} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  if(NOT symbols MATCHES "lopper::detail::allocate\\(")
    message(FATAL_ERROR "${file}: no allocator symbol to check")
  endif()
  string(REGEX MATCHALL
         "lopper::detail::(fail_allocation|injected_failures|live_blocks|find_closest_pair|getrank)"
         hooks "${symbols}")
  if(hooks)
    list(REMOVE_DUPLICATES hooks)
    message(FATAL_ERROR "${file} carries test hooks: ${hooks}")
  endif()
endforeach()
