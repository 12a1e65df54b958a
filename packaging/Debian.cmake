# The Debian packages cce-server (component server) and erp-host (component host), made by
# CPack's DEB generator; scripts/package configures with the values below and runs it.
#   CCE_PACKAGE_VERSION     the Debian version (scripts/package makes it from git describe)
#   CCE_PACKAGE_DESCRIBE    what it was built from, for the changelog ("commit 1a2b3c4")
#   CCE_PACKAGE_MAINTAINER  "Name <address>"
#   CCE_PACKAGE_DATE        the changelog's date, as `date -R` writes it
# Each package's own documentation folder holds copyright and changelog.gz, as Debian asks,
# and each program has its manual page.
set(CCE_PACKAGE_VERSION ${PROJECT_VERSION} CACHE STRING "Debian version of the packages")
set(CCE_PACKAGE_DESCRIBE "the source tree" CACHE STRING "What the packages were built from")
set(CCE_PACKAGE_MAINTAINER "cce-erp developers <cce-erp@example.com>" CACHE STRING "Maintainer of the packages")
string(TIMESTAMP _now "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CCE_PACKAGE_DATE "${_now}" CACHE STRING "Date of the packages' changelog entry")

# Compressed as Debian wants its documentation (no name or time in the header).
function(cce_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(_pkg cce-server erp-host)
  if(_pkg STREQUAL "cce-server")
    set(_component server)
    set(_man man8/cce-server.8)
  else()
    set(_component host)
    set(_man man1/erp-host.1)
  endif()
  set(_doc ${CMAKE_CURRENT_BINARY_DIR}/doc/${_pkg})
  set(CCE_DEB_NAME ${_pkg})
  configure_file(debian/changelog.in ${_doc}/changelog @ONLY)
  # A native package's changelog is changelog.gz.
  cce_gzip(${_doc}/changelog ${_doc}/changelog.gz)
  install(FILES debian/copyright ${_doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_pkg}
          COMPONENT ${_component})
  get_filename_component(_page ${_man} NAME)
  get_filename_component(_section ${_man} DIRECTORY)
  cce_gzip(${CMAKE_CURRENT_SOURCE_DIR}/man/${_page} ${_doc}/${_page}.gz)
  install(FILES ${_doc}/${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${_section} COMPONENT ${_component})
endforeach()
# What lintian says of cce-server that is meant so (the reasons are in the file).
install(FILES debian/cce-server.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME cce-server COMPONENT server)

# The maintainer scripts of cce-server, with the paths of this layout.
set(_control ${CMAKE_CURRENT_BINARY_DIR}/control/cce-server)
configure_file(debian/cce-server.postinst.in ${_control}/postinst @ONLY)
configure_file(debian/cce-server.prerm ${_control}/prerm COPYONLY)
configure_file(debian/cce-server.postrm ${_control}/postrm COPYONLY)
# The configuration is the administrator's once installed: dpkg keeps their changes.
file(WRITE ${_control}/conffiles "${CCE_SERVER_INI}\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cce-erp)
set(CPACK_PACKAGE_VERSION ${CCE_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${CCE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server host)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries' packages, read from the programs and their private libraries by dpkg-shlibdeps;
# below, what they load or call at run time that no link shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME cce-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# adduser: the postinst; Qt's SQL drivers (SQLite by default, PostgreSQL for several
# servers on one database); a font for the letters' PDF.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite, libqt6sql6-psql, fonts-dejavu-core")
# The system's certificate authorities: an SMTP server's certificate is checked against them
# unless the configuration names others.
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "ca-certificates")
# The PKCS#11 library of many smart cards and USB tokens that hold A3 certificates.
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "opensc")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA "${_control}/conffiles;${_control}/postinst;${_control}/prerm;${_control}/postrm")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "application server of the ERP's electronic correction letters (CC-e)
Stores the correction letters of the company's invoices, builds, signs and
validates their CC-e events, sends them to the tax authority's web services and
e-mails the accepted letters with their PDF and XML. The ERP's CC-e screen
(package erp-host) talks to it over HTTP (JSON-RPC).
It runs as the systemd service cce-server, as the system user cce, keeping its
SQLite database and outbox in /var/lib/cce; its configuration is
/etc/cce/cce-server.ini.")

set(CPACK_DEBIAN_HOST_PACKAGE_NAME erp-host)
set(CPACK_DEBIAN_HOST_PACKAGE_SECTION x11)
# Qt's SQLite driver (the company database), the icon theme of the screens' buttons, a font.
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "libqt6sql6-sqlite, tango-icon-theme, fonts-dejavu-core")
# PostgreSQL company databases; Qt's own dialogs in Portuguese; xdg-open, which opens the
# printed letter and the files a screen writes with the desktop's programs; the system's
# certificate authorities, which verify the server unless the configuration names its own.
set(CPACK_DEBIAN_HOST_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-translations-l10n, xdg-utils, ca-certificates")
set(CPACK_DEBIAN_HOST_DESCRIPTION "ERP desktop host with the electronic correction letter (CC-e) screen
The ERP client's host application: reads the user's context from its
configuration, opens the company database and runs the CC-e screen module
PKG_DFS59000, which lists the company's invoices, writes their correction
letters and has the application server (package cce-server) transmit, print
and e-mail them.")

include(CPack)
