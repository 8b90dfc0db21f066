# Options shared by every target of this project.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

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

# Our own code: strict warnings, hidden symbols unless exported on purpose.
function(lumo_configure_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
endfunction()
