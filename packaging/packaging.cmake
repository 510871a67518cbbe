# Installation and the Debian package of both programs and the virtual robot: the .desktop entry
# with its icon, man pages (zuvianctl's and zuvian-sim's rendered from their --help), and the
# post-install step that gives the programs cap_net_raw.
include(GNUInstallDirs)
# cpack installs what the package holds; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

find_program(HELP2MAN help2man REQUIRED)
set(MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(MAN_PAGES)
foreach(program zuvianctl zuvian-sim)
  set(page ${MAN_DIR}/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MAN_DIR}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
      --name=${program} --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program}
    COMMENT "Rendering the man page of ${program} from its --help"
    VERBATIM)
  list(APPEND MAN_PAGES ${page})
endforeach()
add_custom_target(manpages ALL DEPENDS ${MAN_PAGES})

install(TARGETS zuvian-firmwareupdate zuvianctl zuvian-sim
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zuvian-firmwareupdate.1 ${MAN_PAGES}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zuvian-firmwareupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Service tool for the Zuvian robot's motor controllers over EtherCAT")
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
