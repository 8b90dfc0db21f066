# Installs the two libraries, their public headers (LUMO_PUBLIC_HEADERS, from
# LumoPublicHeaders.cmake) under include/LumoProject/ (same relative paths as in the source tree,
# the generated version header included), a CMake package, a
# pkg-config file and the licence. Included only when LUMO_INSTALL is on. Components:
# LumoProject_Runtime (libraries, licence) and LumoProject_Development (headers, packages).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMO_INCLUDE_DIR "${CMAKE_INSTALL_INCLUDEDIR}/LumoProject")
foreach(header IN LISTS LUMO_PUBLIC_HEADERS)
  get_filename_component(folder "${header}" DIRECTORY)
  install(FILES "${PROJECT_SOURCE_DIR}/${header}" DESTINATION "${LUMO_INCLUDE_DIR}/${folder}"
          COMPONENT LumoProject_Development)
endforeach()
install(FILES "${PROJECT_BINARY_DIR}/Lib/Project/LumoVersion.h"
        DESTINATION "${LUMO_INCLUDE_DIR}/Lib/Project" COMPONENT LumoProject_Development)

install(TARGETS VantorPlatform LumoProject EXPORT LumoProjectTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT LumoProject_Runtime
                NAMELINK_COMPONENT LumoProject_Development
        INCLUDES DESTINATION "${LUMO_INCLUDE_DIR}")

if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(compatibility SameMinorVersion)
else()
  set(compatibility SameMajorVersion)
endif()
set(LUMO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/LumoProject")
install(EXPORT LumoProjectTargets NAMESPACE LumoProject:: DESTINATION "${LUMO_CMAKE_DIR}"
        COMPONENT LumoProject_Development)
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/LumoProjectConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/LumoProjectConfig.cmake" INSTALL_DESTINATION "${LUMO_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/LumoProjectConfigVersion.cmake"
  COMPATIBILITY ${compatibility})
install(FILES "${PROJECT_BINARY_DIR}/LumoProjectConfig.cmake"
              "${PROJECT_BINARY_DIR}/LumoProjectConfigVersion.cmake"
        DESTINATION "${LUMO_CMAKE_DIR}" COMPONENT LumoProject_Development)

# The .pc file finds the prefix from its own folder, however deep the library folder is
# (lib, lib64, lib/x86_64-linux-gnu), so the installed tree can be moved as a whole.
set(LUMO_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(LUMO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH relative_prefix "/prefix/${LUMO_PC_DIR}" "/prefix")
  string(REGEX REPLACE "/$" "" relative_prefix "${relative_prefix}")
  set(LUMO_PC_PREFIX "\${pcfiledir}/${relative_prefix}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(LUMO_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(LUMO_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file("${PROJECT_SOURCE_DIR}/cmake/LumoProject.pc.in"
               "${PROJECT_BINARY_DIR}/LumoProject.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/LumoProject.pc" DESTINATION "${LUMO_PC_DIR}"
        COMPONENT LumoProject_Development)

install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/LumoProject" COMPONENT LumoProject_Runtime)
