# What the Windows (MinGW-w64) build needs beyond the common project: the resource compiler, a
# plug-in and programs that carry their C and C++ runtimes inside them, and the header-only
# libraries that Debian ships only for the build machine.
#
# Included from the top-level CMakeLists.txt when WIN32.

enable_language(RC)

# The host loads Cindel.aex on its own, and a render node runs cindel.exe without any MinGW DLLs
# installed: libgcc, libstdc++ and winpthread are linked in. Only Windows system DLLs are imported.
add_link_options(-static -static-libgcc -static-libstdc++)

# Every file that needs <windows.h> wants it lean and without the min/max macros that break
# std::min and std::max; said once here rather than before each include.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)

# Header-only dependencies. Their headers are target-independent, but they sit in the build
# machine's /usr/include beside glibc's, which must never be on a Windows include path; a folder of
# links to just them is.
set(CINDEL_PORTABLE_HEADERS ${CMAKE_BINARY_DIR}/portable-include)
file(MAKE_DIRECTORY ${CINDEL_PORTABLE_HEADERS})
foreach(entry CL nlohmann stb tinyexr.h)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${CINDEL_PORTABLE_HEADERS}/${entry} SYMBOLIC)
endforeach()
add_library(cindel_portable_headers INTERFACE)
target_include_directories(cindel_portable_headers SYSTEM INTERFACE ${CINDEL_PORTABLE_HEADERS})

if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(cindel_nlohmann_json INTERFACE)
  target_link_libraries(cindel_nlohmann_json INTERFACE cindel_portable_headers)
  add_library(nlohmann_json::nlohmann_json ALIAS cindel_nlohmann_json)
endif()

# zlib for the PNG and EXR writers, as the static archive (its import library would make
# cindel.exe need zlib1.dll).
find_library(CINDEL_ZLIB_STATIC NAMES libz.a REQUIRED)

# The PiPL resource: tools/pipl_generate.cpp, compiled for and run on the build machine, writes the
# bytes that host/plugin_resources.rc embeds. Compiling the generator is also where a property
# string too long for its slot stops the build.
find_program(CINDEL_BUILD_MACHINE_CXX NAMES c++ g++ clang++ REQUIRED)
set(CINDEL_PIPL_FILE ${CMAKE_BINARY_DIR}/generated/Cindel.pipl)
set(_pipl_generator ${CMAKE_BINARY_DIR}/generated/pipl_generate)
add_custom_command(
  OUTPUT ${CINDEL_PIPL_FILE}
  COMMAND ${CINDEL_BUILD_MACHINE_CXX} -std=c++20 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}
          ${PROJECT_SOURCE_DIR}/tools/pipl_generate.cpp -o ${_pipl_generator}
  COMMAND ${_pipl_generator} ${CINDEL_PIPL_FILE}
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/pipl_generate.cpp ${PROJECT_SOURCE_DIR}/host/pipl_resource.h
          ${PROJECT_SOURCE_DIR}/host/plugin_properties.h
  COMMENT "Generating the plug-in property resource"
  VERBATIM)
add_custom_target(cindel_pipl DEPENDS ${CINDEL_PIPL_FILE})

# The resource script as its own object library: the project's C++ warning flags are not
# resource-compiler flags.
add_library(cindel_resources OBJECT ${PROJECT_SOURCE_DIR}/host/plugin_resources.rc)
target_include_directories(cindel_resources PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(${PROJECT_SOURCE_DIR}/host/plugin_resources.rc PROPERTIES OBJECT_DEPENDS ${CINDEL_PIPL_FILE})
add_dependencies(cindel_resources cindel_pipl)
