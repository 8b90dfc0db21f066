# Installs the two libraries, their public headers under include/LumoProject/ (same relative
# paths as in the source tree), a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMO_PUBLIC_HEADERS
  Platform/VantorExport.h
  Platform/Plinth/ioPath.h Platform/Plinth/Exception.h Platform/Plinth/NotNull.h
  Platform/Plinth/MediaType.h Platform/Plinth/Version.h Platform/Plinth/RefCountable.h
  Platform/Plinth/FileSystem.h
  Platform/Hinge/PathUtils.h
  Platform/Shelf/IndexSearch.h
  Platform/Reelkit/StreamReader.h
  Platform/Tagset/IFormatFile.h
  Platform/Host/IFileManager.h Platform/Host/LocalFileManager.h
  Lib/Project/LumoExport.h Lib/Project/IProject.h Lib/Project/IProjectManager.h
  Lib/Project/ProjectManager.h Lib/Project/FolderProject.h Lib/Project/MediaContainerProject.h
  Lib/Project/ProjectNaming.h
  App/IPC/LumoIntegration/FormatFile.h)
foreach(header IN LISTS LUMO_PUBLIC_HEADERS)
  get_filename_component(folder "${header}" DIRECTORY)
  install(FILES "${PROJECT_SOURCE_DIR}/${header}"
          DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/LumoProject/${folder}")
endforeach()

set_target_properties(VantorPlatform LumoProject PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS VantorPlatform LumoProject EXPORT LumoProjectTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/LumoProject")

set(LUMO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/LumoProject")
install(EXPORT LumoProjectTargets NAMESPACE LumoProject:: DESTINATION "${LUMO_CMAKE_DIR}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/LumoProjectConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/LumoProjectConfig.cmake" INSTALL_DESTINATION "${LUMO_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/LumoProjectConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/LumoProjectConfig.cmake"
              "${PROJECT_BINARY_DIR}/LumoProjectConfigVersion.cmake"
        DESTINATION "${LUMO_CMAKE_DIR}")

configure_file("${PROJECT_SOURCE_DIR}/cmake/LumoProject.pc.in"
               "${PROJECT_BINARY_DIR}/LumoProject.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/LumoProject.pc"
        DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
