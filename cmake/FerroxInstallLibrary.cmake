include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ferrox_install_library(<target>
#     NAMESPACE <ns>            exported as <ns><target>, e.g. KORVA::
#     HEADER_DIR <dir>          public headers go to <includedir>/<dir>
#     CONFIG_IN <file>          <target>Config.cmake template (configure_package_config_file)
#     PC_IN <file>              pkg-config template (configure_file @ONLY;
#                               its prefix is @FERROX_PC_PREFIX@)
#     PC_NAME <name>            installed as <libdir>/pkgconfig/<name>.pc)
#
# Installs a shared library of the project for other programs: the library
# and its PUBLIC_HEADER files, the exported targets, a CMake package
# (<target>Config.cmake, <target>ConfigVersion.cmake with SameMajorVersion
# compatibility) and a pkg-config file.
function(ferrox_install_library target)
  cmake_parse_arguments(ARG "" "NAMESPACE;HEADER_DIR;CONFIG_IN;PC_IN;PC_NAME" "" ${ARGN})
  foreach(required NAMESPACE HEADER_DIR CONFIG_IN PC_IN PC_NAME)
    if(NOT ARG_${required})
      message(FATAL_ERROR "ferrox_install_library(${target}): ${required} is missing")
    endif()
  endforeach()

  set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${target})
  set(binary_dir ${CMAKE_CURRENT_BINARY_DIR})
  target_include_directories(${target} PUBLIC
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/${ARG_HEADER_DIR}>)

  install(TARGETS ${target} EXPORT ${target}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ARG_HEADER_DIR})
  install(EXPORT ${target}Targets NAMESPACE ${ARG_NAMESPACE} DESTINATION ${package_dir})
  configure_package_config_file(${ARG_CONFIG_IN} ${binary_dir}/${target}Config.cmake
    INSTALL_DESTINATION ${package_dir})
  write_basic_package_version_file(${binary_dir}/${target}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${binary_dir}/${target}Config.cmake ${binary_dir}/${target}ConfigVersion.cmake
    DESTINATION ${package_dir})
  # The pkg-config file finds the prefix from its own place, so that it is
  # right wherever the tree is installed (cmake --install --prefix DIR).
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(FERROX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(FERROX_PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  configure_file(${ARG_PC_IN} ${binary_dir}/${ARG_PC_NAME}.pc @ONLY)
  install(FILES ${binary_dir}/${ARG_PC_NAME}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
