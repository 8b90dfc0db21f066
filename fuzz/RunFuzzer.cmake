# Runs one libFuzzer target for SECONDS over a working copy of its seed corpus, and fails when
# the target finds a crash, a leak, a hang (an input slower than TIMEOUT seconds) or memory use
# beyond RSS_LIMIT_MB. Called by the run-fuzz_* targets:
#   cmake -DFUZZER=... -DSEEDS=... -DREGRESSIONS=... -DWORK_DIR=... -DSECONDS=... -DTIMEOUT=...
#         -DRSS_LIMIT_MB=... -DMAX_LEN=... [-DDICTIONARY=...] -P RunFuzzer.cmake
cmake_minimum_required(VERSION 3.20)

get_filename_component(name "${FUZZER}" NAME)
set(corpus "${WORK_DIR}/corpus")
set(artifacts "${WORK_DIR}/artifacts")
set(log "${WORK_DIR}/${name}.log")
file(MAKE_DIRECTORY "${corpus}" "${artifacts}")

# The corpus grows from run to run inside the build tree; the checked-in seeds stay as they are.
file(COPY "${SEEDS}/" DESTINATION "${corpus}")
set(inputs "${corpus}")
# Earlier findings are replayed first (libFuzzer only reads directories after the first one).
if(IS_DIRECTORY "${REGRESSIONS}")
  list(APPEND inputs "${REGRESSIONS}")
endif()

set(command "${FUZZER}" -max_total_time=${SECONDS} -timeout=${TIMEOUT}
    -rss_limit_mb=${RSS_LIMIT_MB} -max_len=${MAX_LEN} -print_final_stats=1
    "-artifact_prefix=${artifacts}/")
if(DICTIONARY)
  list(APPEND command "-dict=${DICTIONARY}")
endif()

# A watchdog beyond libFuzzer's own limits: its out-of-memory report can deadlock while it
# stops the process's threads to list the live heap, which would hang the build for good.
math(EXPR watchdog "${SECONDS} + ${SECONDS} / 2 + 300")

message(STATUS "${name}: fuzzing for ${SECONDS} s; log: ${log}")
execute_process(COMMAND ${command} ${inputs} TIMEOUT ${watchdog}
                RESULT_VARIABLE result OUTPUT_FILE "${log}" ERROR_FILE "${log}")

# libFuzzer's closing lines: executions, speed, new inputs, memory. The log is read as one
# string: its unbalanced brackets would break a CMake list of lines.
file(READ "${log}" text)
string(REGEX MATCHALL "stat::[a-z_]+: *[0-9]+" stats "${text}")
foreach(stat IN LISTS stats)
  message(STATUS "${name}: ${stat}")
endforeach()
# The DONE line sums up coverage (cov), features (ft) and corpus size (corp).
string(REGEX MATCH "#[0-9]+\tDONE[^\n]*" done "${text}")
if(done)
  message(STATUS "${name}: ${done}")
endif()

if(NOT result EQUAL 0)
  file(SIZE "${log}" size)
  math(EXPR offset "${size} - 8000")
  if(offset LESS 0)
    set(offset 0)
  endif()
  file(READ "${log}" tail OFFSET ${offset})
  message("${tail}")
  message(FATAL_ERROR
    "${name} found a failure (exit status ${result}). The input that caused it is under "
    "${artifacts}; replay it with `${FUZZER} <input>`, save it under ${REGRESSIONS}/ "
    "so the regression suite keeps it, then fix the library.")
endif()
