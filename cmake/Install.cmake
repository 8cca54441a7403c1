# Installation: the program as a read-only program folder, the files of the Debian package
# around it, and the JSON toolkit (runtime, text, json, jsonscript) as libraries with headers,
# a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/kestrola CACHE PATH "Installation prefix" FORCE)
endif()

# The program: executable, button images and icon at the top of the prefix. What the program
# writes (config.ini, printers.ini, the logs) goes to its application data directory.
if(TARGET kestrola)
  install(TARGETS kestrola RUNTIME DESTINATION . COMPONENT program)
  install(FILES
    ${CMAKE_SOURCE_DIR}/assets/start.jpg ${CMAKE_SOURCE_DIR}/assets/start_down.jpg
    ${CMAKE_SOURCE_DIR}/assets/stop.jpg ${CMAKE_SOURCE_DIR}/assets/stop_down.jpg
    ${CMAKE_SOURCE_DIR}/assets/kestrola.png
    DESTINATION . COMPONENT program)

  # The package's files outside the program folder (its prefix is /usr/lib/kestrola). Only
  # the package installs them: a plain "cmake --install" leaves /etc and /usr alone.
  set(pkg ${CMAKE_SOURCE_DIR}/packaging)
  install(PROGRAMS ${pkg}/kestrola-clean-logs DESTINATION . COMPONENT package EXCLUDE_FROM_ALL)
  install(PROGRAMS ${pkg}/kestrola DESTINATION /usr/bin COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${pkg}/kestrola.desktop
    DESTINATION /usr/share/applications COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${pkg}/kestrola-autostart.desktop DESTINATION /etc/xdg/autostart
    RENAME kestrola.desktop COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${pkg}/default DESTINATION /etc/default RENAME kestrola
    COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${pkg}/kestrola.service ${pkg}/kestrola-logs.service ${pkg}/kestrola-logs.timer
    DESTINATION /lib/systemd/system COMPONENT package EXCLUDE_FROM_ALL)
  # Debian wants the changelog and the manual page compressed.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  foreach(doc changelog kestrola.1)
    execute_process(COMMAND gzip -9nc INPUT_FILE ${pkg}/${doc}
      OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/${doc}.gz COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pkg}/${doc})
  endforeach()
  install(FILES ${pkg}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION /usr/share/doc/kestrola COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/kestrola.1.gz
    DESTINATION /usr/share/man/man1 COMPONENT package EXCLUDE_FROM_ALL)
endif()

# The toolkit for other C++ projects: find_package(Kestrola) gives Kestrola::json and friends,
# pkg-config the same libraries as "kestrola". Headers go to include/kestrola/<folder>/.
set(toolkit_targets)
foreach(name IN LISTS KESTROLA_TOOLKIT_LIBRARIES)
  if(TARGET kestrola_${name})
    list(APPEND toolkit_targets kestrola_${name})
    set_target_properties(kestrola_${name} PROPERTIES EXPORT_NAME ${name})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/${name}/
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrola/${name}
      COMPONENT toolkit FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()
if(toolkit_targets)
  install(TARGETS ${toolkit_targets} EXPORT KestrolaTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT toolkit
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT toolkit
      NAMELINK_COMPONENT toolkit
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrola ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT KestrolaTargets NAMESPACE Kestrola::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrola COMPONENT toolkit)
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/KestrolaConfig.cmake.in
    ${CMAKE_BINARY_DIR}/KestrolaConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrola)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestrolaConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/KestrolaConfig.cmake
    ${CMAKE_BINARY_DIR}/KestrolaConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrola COMPONENT toolkit)
  # The .pc file finds its prefix from its own place, so an installed tree may be moved.
  file(RELATIVE_PATH KESTROLA_PC_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" KESTROLA_PC_PREFIX "${KESTROLA_PC_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/kestrola.pc.in ${CMAKE_BINARY_DIR}/kestrola.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/kestrola.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT toolkit)
endif()
