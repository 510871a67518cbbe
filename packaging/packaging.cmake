# Installation and the Debian package of both programs and the virtual robot: the .desktop entry
# with its icon, compressed man pages (zuvianctl's and zuvian-sim's rendered from their --help,
# zuvianctl's with every command's help), the copyright and changelog, and the post-install step
# that gives the programs cap_net_raw.
include(GNUInstallDirs)
# cpack installs what the package holds; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(DOC_DIR ${CMAKE_BINARY_DIR}/doc)
# The NAME line of each rendered page; zuvianctl's page also gets every command's own help.
set(zuvianctl_NAME "check, update and diagnose the Zuvian robot's EtherCAT motor controllers")
set(zuvian-sim_NAME "virtual Zuvian robot: emulated EtherCAT slaves served on a network interface")
set(MAN_PAGES)
foreach(program zuvianctl zuvian-sim)
  set(page ${MAN_DIR}/${program}.1)
  set(include)
  set(steps)
  if(program STREQUAL "zuvianctl")
    set(include --include=${MAN_DIR}/zuvianctl-commands.h2m)
    set(steps COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/zuvianctl-commands.sh
      $<TARGET_FILE:zuvianctl> ${MAN_DIR}/zuvianctl-commands.h2m)
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MAN_DIR}
    ${steps}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
      "--name=${${program}_NAME}" ${include} --output=${page} $<TARGET_FILE:${program}>
    # Debian keeps man pages compressed; -n leaves the time out, so the package is reproducible.
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/packaging/zuvianctl-commands.sh
    COMMENT "Rendering the man page of ${program} from its --help"
    VERBATIM)
  list(APPEND MAN_PAGES ${page}.gz)
endforeach()
set(window_page ${MAN_DIR}/zuvian-firmwareupdate.1.gz)
set(changelog ${DOC_DIR}/changelog.gz)
add_custom_command(OUTPUT ${window_page} ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MAN_DIR} ${DOC_DIR}
  COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.1 > ${window_page}
  COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.1
    ${CMAKE_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the window's man page and the changelog")
list(APPEND MAN_PAGES ${window_page})
add_custom_target(manpages ALL DEPENDS ${MAN_PAGES} ${changelog})

install(TARGETS zuvian-firmwareupdate zuvianctl zuvian-sim
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${changelog}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zuvian-firmwareupdate)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME zuvian-firmwareupdate)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zuvian-firmwareupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Service tool for the Zuvian robot's motor controllers over EtherCAT")
# The extended description; cpack puts the summary in front and formats the lines for the
# control file (an empty line separates paragraphs).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Checks the firmware version of every arm and wheel base controller, writes
new firmware into them and writes, backs up, restores and reports their
parameters, over the robot's EtherCAT bus on a network interface of the PC.

zuvian-firmwareupdate is the window for the workshop; zuvianctl does the same
from the command line and for scripts, and looks into the bus: slaves and
their states, SII, CoE, FoE, SoE, registers and the process image.
zuvian-sim serves a virtual robot on a network interface for training and
tests.")
set(CPACK_PACKAGE_CONTACT "Zuvian service <service@zuvian.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap runs in the post-install step.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
