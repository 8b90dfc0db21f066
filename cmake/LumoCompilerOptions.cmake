# Options shared by every target of this project. Everything here is scoped to this project's
# directories or targets, so a parent project that adds us as a subdirectory keeps its own.

if(LUMO_SANITIZE)
  add_compile_options(-fsanitize=${LUMO_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  # GCC's flow analysis misfires inside <regex> and <functional> once sanitizers instrument them.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  add_link_options(-fsanitize=${LUMO_SANITIZE})
endif()

# Coverage for libFuzzer in everything the fuzz targets reach; the targets add the driver.
if(LUMO_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Our own code: C++17 without extensions, strict warnings, hidden symbols unless exported on
# purpose. Libraries pass C++17 on to whoever links them, since their headers need it.
function(lumo_configure_target target)
  get_target_property(type ${target} TYPE)
  if(type MATCHES "LIBRARY")
    target_compile_features(${target} PUBLIC cxx_std_17)
  else()
    target_compile_features(${target} PRIVATE cxx_std_17)
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  set_target_properties(${target} PROPERTIES
    CXX_STANDARD 17
    CXX_STANDARD_REQUIRED ON
    CXX_EXTENSIONS OFF
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
endfunction()

# What we ship names its sources relative to the repository root, never by the absolute path of
# the checkout it was built in: throw sites read "Platform/Shelf/IndexSearch.cpp(66)" and the
# debug information points into the tree the same way. ccache (base_dir) hands the compiler
# paths relative to its working directory, so that spelling is mapped too. Later maps win in
# GCC and Clang, so the more specific build tree (often inside the source tree) comes last.
function(lumo_strip_source_paths target)
  get_target_property(binary_dir ${target} BINARY_DIR)
  if(CMAKE_GENERATOR MATCHES "Make")
    set(working_dir "${binary_dir}")
  else()
    set(working_dir "${CMAKE_BINARY_DIR}")
  endif()
  file(RELATIVE_PATH relative_source "${working_dir}" "${PROJECT_SOURCE_DIR}")
  string(REGEX REPLACE "/$" "" relative_source "${relative_source}")
  set(maps "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
  if(relative_source)
    list(APPEND maps "-ffile-prefix-map=${relative_source}/=")
  endif()
  list(APPEND maps "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
  target_compile_options(${target} PRIVATE ${maps})
endfunction()

# A library or program we install. It is linked once with its installed RUNPATH (set
# INSTALL_RPATH relative to $ORIGIN), which must therefore also hold in the build tree. Rewriting
# the RUNPATH at install time instead would make CMake pad the build tree's copy with ':', an
# empty element that sends the loader to the current directory.
function(lumo_configure_shipped_binary target)
  lumo_strip_source_paths(${target})
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endfunction()
