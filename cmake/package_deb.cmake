# `make deb`: two Debian packages of what `make install` installs, made by
# CPack from the install rules of install.cmake, one a component:
# vortan-replay-gen (component tools: the six programs, their manual pages
# and bash completion) and vortan-replay-gen-standins (component suite: the
# stand-ins of the suite commands and their page), which the first suggests,
# for a machine without the suite. deb_staging.cmake puts each staged tree
# into Debian's shape before it is packed.
set(VT_DEB_MAINTAINER "Vortan replay tools <vortan-replay@example.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools suite)
set(CPACK_PACKAGE_NAME vortan-replay-gen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VT_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VT_DEB_MAINTAINER}")
# Each description's first line is its summary.
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vortan-replay-gen)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS vortan-replay-gen-standins)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "replay packages for the Vortan load engine from captured logs
vtu_replay_gen turns captured SOAP/HTTP traffic logs into a replay package
for the load engine of the Vortan load-testing suite: per-worker request and
index files, a scenario and a script, and a manifest of the package.

vt_package checks a package against its index files and manifest, profiles
and plots its traffic, and previews a run without writing anything;
vt_replay sends a package to a server, vt_sink is a small local server to
try it on, and vt_loggen writes synthetic log trees for tries and tests.
Without the suite, vortan-replay-gen-standins brings stand-ins of the suite
commands a run calls.")
set(CPACK_DEBIAN_SUITE_PACKAGE_NAME vortan-replay-gen-standins)
set(CPACK_DEBIAN_SUITE_PACKAGE_ENHANCES vortan-replay-gen)
set(CPACK_DEBIAN_SUITE_DESCRIPTION
    "stand-ins of the Vortan suite's script commands for vtu_replay_gen
vtu_gen_cscript, vtu_gen_script, vti_get_page and vtu_change_page_name as
vtu_replay_gen calls them at the end of a run, for a machine without the
Vortan suite: they make and rename scripts of their own simple form, so that
a replay package can be made and replayed without the suite. A machine with
the suite uses the suite's own commands instead.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_staging.cmake)
set(CPACK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in ${PROJECT_BINARY_DIR}/deb_changelog @ONLY)
set(CPACK_VT_CHANGELOG ${PROJECT_BINARY_DIR}/deb_changelog)
set(CPACK_VT_COPYRIGHT ${PROJECT_SOURCE_DIR}/cmake/deb/copyright)
# CPack installs what is built; it does not build everything first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
