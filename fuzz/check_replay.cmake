# cmake -DPROBE=<replay_probe> -DWORK=<scratch folder> -P check_replay.cmake
# The probe aborts on any input that starts with "crash".
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/empty ${WORK}/good ${WORK}/bad)
file(WRITE ${WORK}/good/a "one")
file(WRITE ${WORK}/good/b "")
file(WRITE ${WORK}/bad/a "fine")
file(WRITE ${WORK}/bad/z-input "crash now")

function(expect what want_ok pattern)
  execute_process(COMMAND ${PROBE} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE out)
  if(rc STREQUAL "0")
    set(ok TRUE)
  else()
    set(ok FALSE)
  endif()
  if(NOT ok STREQUAL want_ok OR NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: exit ${rc}, wanted success=${want_ok} and /${pattern}/:\n${out}")
  endif()
endfunction()

expect("every file of a folder and every file named" TRUE "3 inputs ran"
  ${WORK}/good ${WORK}/good/a)
expect("an empty corpus folder" FALSE "no inputs in .*empty" ${WORK}/good ${WORK}/empty)
expect("a corpus folder that is not there" FALSE "no such file or folder" ${WORK}/missing)
expect("an input that crashes" FALSE "failed on input .*bad/z-input" ${WORK}/bad)
