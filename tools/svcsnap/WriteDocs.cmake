# Writes svcsnap.1.gz and svcsnap.bash-completion into OUT from what the
# svcsnap binary SVCSNAP prints with --manual-page and --bash-completion.
foreach(what manual-page bash-completion)
  execute_process(COMMAND ${SVCSNAP} --${what} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "svcsnap --${what} failed (${rc})")
  endif()
  if(what STREQUAL "manual-page")
    file(WRITE ${OUT}/svcsnap.1 "${text}")
  else()
    file(WRITE ${OUT}/svcsnap.bash-completion "${text}")
  endif()
endforeach()
# gzip -n: no name or time stamp in the file, so it is the same on every build.
execute_process(COMMAND gzip -9nf ${OUT}/svcsnap.1 RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip svcsnap.1 failed (${rc})")
endif()
