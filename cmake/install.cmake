# Install rules and the Debian packages.
#
#   cmake --install build --prefix /usr      programs, man pages, README, systemd units
#   cpack --config build/CPackConfig.cmake -B build/packages
#        praxserver_<version>_<arch>.deb         praxload and praxgen (no Qt)
#        praxserver-window_<version>_<arch>.deb  the window, depending on the first
#
# Installed in <root>/usr/bin (or <root>/usr/local/bin), the programs keep their state in
# <root>/var/lib/praxserver and read PXNET.INI from <root>/etc/praxilo/ (src/app/program_folder.h).
include(GNUInstallDirs)

set(PRAX_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(PRAX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc)

# Man pages and the Debian changelog are installed compressed, as Debian's tools expect (gzip -n: no
# name or time in the file, so two builds give the same bytes).
find_program(PRAX_GZIP gzip REQUIRED)
function(prax_gzip source output)
  add_custom_command(OUTPUT ${output} COMMAND ${PRAX_GZIP} -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
set(man_pages praxload praxgen)
if(PRAX_BUILD_WINDOW)
  list(APPEND man_pages praxserver)
endif()
set(gzipped)
foreach(page ${man_pages})
  prax_gzip(${PRAX_PACKAGING}/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  list(APPEND gzipped ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
prax_gzip(${PRAX_PACKAGING}/debian/changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
add_custom_target(prax_install_files ALL DEPENDS ${gzipped} ${CMAKE_BINARY_DIR}/man/changelog.gz)

install(TARGETS praxload praxgen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT praxserver)
install(FILES ${CMAKE_BINARY_DIR}/man/praxload.1.gz ${CMAKE_BINARY_DIR}/man/praxgen.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT praxserver)
install(FILES ${PRAX_PACKAGING}/systemd/praxload.service ${PRAX_PACKAGING}/systemd/praxload.timer
        DESTINATION lib/systemd/system COMPONENT praxserver)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${PRAX_PACKAGING}/debian/copyright ${CMAKE_BINARY_DIR}/man/changelog.gz
        DESTINATION ${PRAX_DOC_DIR}/praxserver COMPONENT praxserver)
if(PRAX_BUILD_WINDOW)
  install(TARGETS praxserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  install(FILES ${CMAKE_BINARY_DIR}/man/praxserver.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
  install(FILES ${PRAX_PACKAGING}/debian/copyright ${CMAKE_BINARY_DIR}/man/changelog.gz
          DESTINATION ${PRAX_DOC_DIR}/praxserver-window COMPONENT window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME praxserver)
set(CPACK_PACKAGE_VENDOR "PraxServer developers")
set(CPACK_PACKAGE_CONTACT "PraxServer developers <praxserver@praxilo.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL praxserver)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PRAXSERVER_PACKAGE_NAME praxserver)
# adduser for the system account that postinst makes; the libraries' packages are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PRAXSERVER_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PRAXSERVER_PACKAGE_CONTROL_EXTRA ${PRAX_PACKAGING}/debian/postinst ${PRAX_PACKAGING}/debian/postrm)
set(CPACK_DEBIAN_PRAXSERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_PRAXSERVER_DESCRIPTION "loader of Praxilo's Alert and Activity logs into a History database
praxload loads the daily Alert (.PXL) and Activity (.PXT) logs that Praxilo's
desktop clients write on a shared network directory into the History database
(an SQLite file, or a PostgreSQL server) and keeps the roster database in step.
praxgen writes demo networks. A systemd timer runs the load nightly once it is
enabled.")
if(PRAX_BUILD_WINDOW)
  list(APPEND CPACK_COMPONENTS_ALL window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME praxserver-window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION misc)
  set(CPACK_COMPONENT_WINDOW_DEPENDS praxserver)
  set(CPACK_COMPONENT_WINDOW_DESCRIPTION "administrator's window of PraxServer
praxserver is the Qt window in which an administrator chooses what to load
into the History database and follows the run; the same command as praxload.")
endif()
include(CPack)
