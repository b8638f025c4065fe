# Runs at install time, when the prefix is known: /usr in the Debian package, /usr/local by default.
# zorvo(1) and the examples' README name the documentation folder under that prefix; man pages and
# the changelog go in compressed without a timestamp, as Debian wants them.
foreach(dir DOCDIR MANDIR)
  if(IS_ABSOLUTE "${ZORVO_${dir}}")
    set(CMAKE_INSTALL_FULL_${dir} "${ZORVO_${dir}}")
  else()
    set(CMAKE_INSTALL_FULL_${dir} "${CMAKE_INSTALL_PREFIX}/${ZORVO_${dir}}")
  endif()
endforeach()

# One folder per destination, so that `make package` and the package test never share a file.
string(MD5 stage_key "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(stage "${ZORVO_STAGE}/${stage_key}")
file(MAKE_DIRECTORY "${stage}")

function(zorvo_gzip source target)
  execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${target}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${source}")
  endif()
endfunction()

foreach(page IN LISTS ZORVO_MAN_PAGES)
  get_filename_component(name "${page}" NAME)
  if(name MATCHES "\\.in$")
    string(REGEX REPLACE "\\.in$" "" name "${name}")
    configure_file("${page}" "${stage}/${name}" @ONLY)
    set(page "${stage}/${name}")
  endif()
  string(REGEX REPLACE ".*\\." "" section "${name}")
  zorvo_gzip("${page}" "${stage}/${name}.gz")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_MANDIR}/man${section}" TYPE FILE FILES "${stage}/${name}.gz")
endforeach()

zorvo_gzip("${ZORVO_CHANGELOG}" "${stage}/changelog.gz")
file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_DOCDIR}" TYPE FILE FILES "${stage}/changelog.gz")

configure_file("${ZORVO_EXAMPLES_README}" "${stage}/README" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_DOCDIR}/examples" TYPE FILE FILES "${stage}/README")
