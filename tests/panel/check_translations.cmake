# Runs lupdate over the sources into copies of the translation files: a text
# shown through tr() that the files lack, or an entry no source has any more,
# fails. cmake -DLUPDATE=… -DSOURCE_DIR=… -DWORK_DIR=… -DTS_FILES=a.ts;b.ts -DSOURCES=… -P
foreach(ts IN LISTS TS_FILES)
  get_filename_component(name "${ts}" NAME)
  file(COPY_FILE "${ts}" "${WORK_DIR}/${name}")
  execute_process(
    COMMAND "${LUPDATE}" -I "${SOURCE_DIR}/src" -no-obsolete -locations none ${SOURCES}
            -ts "${WORK_DIR}/${name}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${name}: ${err}")
  endif()
  if(NOT out MATCHES "\\(0 new and")
    message(FATAL_ERROR "${name} lacks texts the sources show; run the update_translations target and translate them:\n${out}")
  endif()
  if(out MATCHES "obsolete")
    message(FATAL_ERROR "${name} holds texts no source has any more:\n${out}")
  endif()
endforeach()
