# The Debian package for terminals: the program in /opt/kestrola, a desktop entry, and an
# autostart entry that starts the service window when the terminal's user logs in.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrola)
set(CPACK_PACKAGE_VENDOR Kestrola)
set(CPACK_PACKAGE_CONTACT "Kestrola <support@kestrola.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Receipt print-queue service for point-of-sale terminals")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/kestrola)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Shared-library dependencies are found by dpkg-shlibdeps (Qt 6 Widgets, unixODBC, libcups);
# the window also needs Qt's platform plugins, which no library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, unixodbc")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc, odbc-postgresql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tdsodbc, cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
# Only the program goes into the package; the toolkit is installed with cmake --install.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL program desktop)
include(CPack)
