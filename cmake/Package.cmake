# The Debian package for terminals: the program read-only in /usr/lib/kestrola, the command
# kestrola, menu and autostart entries, the systemd units (the headless service and the daily
# removal of old logs), and maintainer scripts that make the shared data folder
# /var/lib/kestrola and the service's account, and remove them again on purge.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrola)
set(CPACK_PACKAGE_VENDOR Kestrola)
set(CPACK_PACKAGE_CONTACT "Kestrola <support@kestrola.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Receipt print-queue service for point-of-sale terminals")
set(CPACK_PACKAGE_DESCRIPTION "Kestrola prints the receipt jobs of a point-of-sale terminal
from the shop's SQL database on the terminal's receipt printers, once a
second, and keeps a daily activity log. It runs as a small window at login
or headless as a systemd service.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr/lib/kestrola)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Shared-library dependencies are found by dpkg-shlibdeps (Qt 6 Widgets, unixODBC, libcups);
# the window also needs Qt's platform plugins, which no library links to; the maintainer
# scripts need adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, unixodbc, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc, odbc-postgresql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tdsodbc, cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm
  ${CMAKE_SOURCE_DIR}/packaging/postrm ${CMAKE_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only the program goes into the package; the toolkit is installed with cmake --install.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL program package)
set(CPACK_STRIP_FILES ON)
include(CPack)
