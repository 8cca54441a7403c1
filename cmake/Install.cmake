# Installation: the program as a working application directory, and the JSON toolkit
# (runtime, text, json, jsonscript) as libraries with headers and a CMake package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/kestrola CACHE PATH "Installation prefix" FORCE)
endif()

# The program: executable, button images and icon at the top of the prefix. config.ini and the
# logs are written there by the program itself at its first start.
if(TARGET kestrola)
  install(TARGETS kestrola RUNTIME DESTINATION . COMPONENT program)
  install(FILES
    ${CMAKE_SOURCE_DIR}/assets/start.jpg ${CMAKE_SOURCE_DIR}/assets/start_down.jpg
    ${CMAKE_SOURCE_DIR}/assets/stop.jpg ${CMAKE_SOURCE_DIR}/assets/stop_down.jpg
    ${CMAKE_SOURCE_DIR}/assets/kestrola.png
    DESTINATION . COMPONENT program)
  # Menu and autostart entries live where the desktop looks for them, outside the prefix.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrola.desktop
    DESTINATION /usr/share/applications COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrola-autostart.desktop
    DESTINATION /etc/xdg/autostart RENAME kestrola.desktop COMPONENT desktop)
endif()

# The toolkit for other C++ projects: find_package(Kestrola) gives Kestrola::json and friends.
set(toolkit_targets)
foreach(name runtime text json jsonscript)
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
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrola)
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
endif()
