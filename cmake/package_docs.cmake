# Makes the documents an installation carries, from NEWS.md and docs/avistep.1.in:
#   avistep.1, avistep.1.gz   the manual page, dated with its version's date in NEWS.md
#   changelog.gz              NEWS.md as a Debian changelog, the one a native package carries
# The .gz files are made by gzip -9n (no name, no time): their bytes follow from the sources.
# Stops when NEWS.md's newest version is not the project's, so that the two never disagree.
#   cmake -DSOURCE_DIR=<top> -DOUT_DIR=<build> -DVERSION=<x.y.z> -DMAINTAINER=<name <address>>
#         -P cmake/package_docs.cmake

file(READ "${SOURCE_DIR}/NEWS.md" news)
# A CMake list splits at semicolons: the text's own are kept out of the way while it is split.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" news "${news}")
string(REPLACE "\n" ";" lines "${news}")

set(changelog "")
set(newest "")
macro(close_entry)
  if(NOT newest STREQUAL "")
    string(APPEND changelog "${entry}\n -- ${MAINTAINER}  ${date}\n")
  endif()
endmacro()
foreach(line IN LISTS lines)
  string(REPLACE "${semicolon}" ";" line "${line}")
  if(line MATCHES "^## ")
    close_entry()
    if(NOT line MATCHES "^## ([0-9]+(\\.[0-9]+)*) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
      message(FATAL_ERROR "NEWS.md: a version's heading is '## <version> (<yyyy-mm-dd>)', not '${line}'")
    endif()
    set(version ${CMAKE_MATCH_1})
    set(day ${CMAKE_MATCH_3})
    if(newest STREQUAL "")
      set(newest ${version})
      set(newest_day ${day})
    else()
      string(APPEND changelog "\n")
    endif()
    # RFC 5322 with its day of the week, as a Debian changelog wants it.
    execute_process(COMMAND date -u -R -d "${day}" OUTPUT_VARIABLE date
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(entry "avistep (${version}) unstable; urgency=medium\n\n")
  elseif(newest STREQUAL "" OR line STREQUAL "")
    # The title and introduction above the first version; blank lines between items.
  elseif(line MATCHES "^- (.*)")
    string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  (.*)")
    string(APPEND entry "    ${CMAKE_MATCH_1}\n")
  else()
    message(FATAL_ERROR "NEWS.md: a version holds '- ' items and their indented lines, not '${line}'")
  endif()
endforeach()
close_entry()

if(NOT newest STREQUAL VERSION)
  message(FATAL_ERROR "NEWS.md's newest version is '${newest}', CMakeLists.txt's project() says "
                      "${VERSION}: give the new version its section in NEWS.md")
endif()

file(WRITE "${OUT_DIR}/changelog" "${changelog}")
set(PROJECT_VERSION ${VERSION})
set(avistep_man_date ${newest_day})
configure_file("${SOURCE_DIR}/docs/avistep.1.in" "${OUT_DIR}/avistep.1" @ONLY)
foreach(name changelog avistep.1)
  execute_process(COMMAND gzip -9n --stdout "${OUT_DIR}/${name}" OUTPUT_FILE "${OUT_DIR}/${name}.gz"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
