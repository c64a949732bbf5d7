# Runs one fuzz target for a few seconds over a scratch copy of its seeds.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${SCRATCH})
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 ${SCRATCH}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzz target failed (${result}); see the crash input above")
endif()
