# Install rules. `cmake --install <build dir>` (what `make install` runs)
# installs the six programs, their manual pages and their bash completion;
# the stand-ins of the suite commands and their manual page come only with
# `--component suite`, since a real suite brings its own. Each run also leaves the list of the files it installed, relative
# to the prefix, in share/vortan_replay_gen/installed_files[.suite]; that list
# is what `make uninstall` removes, with or without the build directory.
set(vt_man_pages ${PROJECT_SOURCE_DIR}/man/vtu_replay_gen.1 ${PROJECT_SOURCE_DIR}/man/vt_loggen.1
                 ${PROJECT_SOURCE_DIR}/man/vt_package_check.1 ${PROJECT_SOURCE_DIR}/man/vt_package.1
                 ${PROJECT_SOURCE_DIR}/man/vt_replay.1 ${PROJECT_SOURCE_DIR}/man/vt_sink.1)

install(TARGETS vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink
        RUNTIME DESTINATION bin COMPONENT tools)
install(FILES ${vt_man_pages} DESTINATION share/man/man1 COMPONENT tools)
# One completion file serves every program; bash-completion looks it up by
# the name of the command being completed.
foreach(vt_program vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/vortan_replay_gen.bash
          DESTINATION share/bash-completion/completions RENAME ${vt_program} COMPONENT tools)
endforeach()
install(TARGETS vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name
        RUNTIME DESTINATION bin COMPONENT suite EXCLUDE_FROM_ALL)
# One page describes the four stand-ins, under each one's name.
foreach(vt_program vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name)
  install(FILES ${PROJECT_SOURCE_DIR}/man/suite_standins.1 DESTINATION share/man/man1
          RENAME ${vt_program}.1 COMPONENT suite EXCLUDE_FROM_ALL)
endforeach()

# Writes the files installed so far in this run, relative to the prefix, to
# share/vortan_replay_gen/<list name>. Runs last within its component.
function(vt_install_file_list component list_name)
  install(CODE "
    set(vt_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(vt_list \"\")
    # The installed files are recorded under the prefix, with or without
    # DESTDIR in front depending on the CMake version.
    foreach(vt_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      set(vt_rel \"\")
      foreach(vt_base \"\${vt_root}/\" \"\${CMAKE_INSTALL_PREFIX}/\")
        string(FIND \"\${vt_file}\" \"\${vt_base}\" vt_at)
        if(vt_at EQUAL 0 AND vt_rel STREQUAL \"\")
          string(LENGTH \"\${vt_base}\" vt_len)
          string(SUBSTRING \"\${vt_file}\" \${vt_len} -1 vt_rel)
        endif()
      endforeach()
      if(vt_rel STREQUAL \"\")
        message(FATAL_ERROR \"\${vt_file} lies outside \${CMAKE_INSTALL_PREFIX}\")
      endif()
      string(APPEND vt_list \"\${vt_rel}\\n\")
    endforeach()
    message(STATUS \"Listing: \${vt_root}/share/vortan_replay_gen/${list_name}\")
    file(WRITE \"\${vt_root}/share/vortan_replay_gen/${list_name}\" \"\${vt_list}\")
  " COMPONENT ${component} ${ARGN})
endfunction()
vt_install_file_list(tools installed_files)
vt_install_file_list(suite installed_files.suite EXCLUDE_FROM_ALL)
