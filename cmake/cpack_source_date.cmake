# cpack reads this before it packs. Without SOURCE_DATE_EPOCH in its environment the package's
# file times and gzip headers are taken from the last commit's time, so two builds of one commit
# give the same bytes; a SOURCE_DATE_EPOCH already set (a distribution's build) is kept.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_AVISTEP_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
