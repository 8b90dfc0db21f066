# The public headers: what `cmake --install` puts under include/LumoProject/ and, with the
# generated Lib/Project/LumoVersion.h, exactly what the API reference covers. Paths are relative
# to the repository root. Writes the input of `make docs` into the build tree, so the reference
# and the installed headers can not drift apart.
set(LUMO_PUBLIC_HEADERS
  Platform/VantorExport.h
  Platform/Plinth/ioPath.h Platform/Plinth/Exception.h Platform/Plinth/NotNull.h
  Platform/Plinth/MediaType.h Platform/Plinth/Version.h Platform/Plinth/RefCountable.h
  Platform/Plinth/FileSystem.h
  Platform/Hinge/PathUtils.h
  Platform/Shelf/IndexSearch.h
  Platform/Reelkit/StreamReader.h Platform/Reelkit/FfmpegLog.h
  Platform/Tagset/IFormatFile.h
  Platform/Host/IFileManager.h Platform/Host/LocalFileManager.h
  Lib/Project/LumoExport.h Lib/Project/IProject.h Lib/Project/IProjectManager.h
  Lib/Project/ProjectManager.h Lib/Project/FolderProject.h Lib/Project/MediaContainerProject.h
  Lib/Project/ProjectNaming.h
  App/IPC/LumoIntegration/FormatFile.h)

set(LUMO_DOCS_INPUT "INPUT = ${PROJECT_SOURCE_DIR}/README.md")
foreach(header IN LISTS LUMO_PUBLIC_HEADERS)
  string(APPEND LUMO_DOCS_INPUT " \\\n        ${PROJECT_SOURCE_DIR}/${header}")
endforeach()
string(APPEND LUMO_DOCS_INPUT " \\\n        ${PROJECT_BINARY_DIR}/Lib/Project/LumoVersion.h\n")
string(APPEND LUMO_DOCS_INPUT "STRIP_FROM_PATH = ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}\n")
string(APPEND LUMO_DOCS_INPUT "STRIP_FROM_INC_PATH = ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}\n")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/docs-input.doxy" CONTENT "${LUMO_DOCS_INPUT}")
