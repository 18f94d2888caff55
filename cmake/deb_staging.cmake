# Run by CPack on the staged trees (one a component) before they are packed:
# manual pages and the changelog compressed as Debian wants them (gzip -9n:
# no name or time in the stream), the copyright file added, the compiler's
# notes taken out of the (already stripped) programs, and the lists that
# `make uninstall` reads left out (dpkg keeps its own list of a package's
# files).
function(vt_gzip file)
  execute_process(COMMAND gzip -9n -f "${file}" RESULT_VARIABLE vt_status)
  if(NOT vt_status EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endfunction()

foreach(vt_component tools suite)
  string(TOUPPER ${vt_component} vt_upper)
  set(vt_usr "${CPACK_TEMPORARY_DIRECTORY}/${vt_component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  set(vt_doc "${vt_usr}/share/doc/${CPACK_DEBIAN_${vt_upper}_PACKAGE_NAME}")
  file(GLOB vt_man_pages "${vt_usr}/share/man/man1/*.1")
  foreach(vt_page IN LISTS vt_man_pages)
    vt_gzip("${vt_page}")
  endforeach()
  file(REMOVE_RECURSE "${vt_usr}/share/vortan_replay_gen")
  file(MAKE_DIRECTORY "${vt_doc}")
  file(COPY "${CPACK_VT_COPYRIGHT}" DESTINATION "${vt_doc}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(COPY_FILE "${CPACK_VT_CHANGELOG}" "${vt_doc}/changelog")
  file(CHMOD "${vt_doc}/changelog" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  vt_gzip("${vt_doc}/changelog")
  file(GLOB vt_programs "${vt_usr}/bin/*")
  foreach(vt_program IN LISTS vt_programs)
    execute_process(COMMAND objcopy --remove-section=.comment "${vt_program}"
                    RESULT_VARIABLE vt_status)
    if(NOT vt_status EQUAL 0)
      message(FATAL_ERROR "objcopy ${vt_program} failed")
    endif()
  endforeach()
endforeach()
