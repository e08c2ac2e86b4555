# Installation and the Debian package of the client and the publishing tool.
include(GNUInstallDirs)

install(TARGETS TarvoPatchClient tarvo-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
# The window and its toolkit come in a package of their own, so that the client and the publishing
# tool install on a server without GTK or WebKit; the client recommends it.
if(TARGET tarvo-window)
  install(TARGETS tarvo-window LIBRARY DESTINATION ${TARVO_WINDOW_MODULE_DIR} COMPONENT window)
endif()
set(TARVO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarvo-patch-client)
install(FILES README.md DESTINATION ${TARVO_DOC_DIR} COMPONENT client)
if(EXISTS ${CMAKE_SOURCE_DIR}/LICENSE)
  install(FILES LICENSE DESTINATION ${TARVO_DOC_DIR} RENAME copyright COMPONENT client)
endif()
# The patch server, so that operators can try a published tree end to end.
install(PROGRAMS tools/patch_server.py DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo-patch-client COMPONENT client)

set(CPACK_PACKAGE_NAME tarvo-patch-client)
set(CPACK_PACKAGE_VENDOR "Tarvo")
set(CPACK_PACKAGE_CONTACT "Tarvo patch client maintainers <tarvo-patch@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarvo patch client and the operators' publishing tool")
set(CPACK_PACKAGE_DESCRIPTION
    "The patch client of the online music game Tarvo (TarvoPatchClient) and tarvo-publish, which puts game data, the launcher, the patch client and music on an FTP tree and checks a tree the way the client reads it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# Dependencies come from the shared libraries the binaries link (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tarvo-patch-client)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
if(TARGET tarvo-window)
  set(CPACK_COMPONENTS_ALL client window)
  set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS tarvo-patch-client-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME tarvo-patch-client-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "tarvo-patch-client (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENT_WINDOW_DESCRIPTION "The window of the Tarvo patch client (GTK 3 and WebKitGTK); without it the client runs in the console")
  set(CPACK_DEBIAN_WINDOW_DESCRIPTION "${CPACK_COMPONENT_WINDOW_DESCRIPTION}")
else()
  set(CPACK_COMPONENTS_ALL client)
endif()
include(CPack)
