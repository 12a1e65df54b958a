# cce_common_cfg: what every target of the project compiles with. Each library and
# program links it PRIVATE, so warnings and defines stay the project's own and never
# reach code outside it.
add_library(cce_common_cfg INTERFACE)

target_compile_options(cce_common_cfg INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<BOOL:${CCE_WERROR}>:-Werror>)

# Qt: no silent conversions between bytes and text, no URLs from plain strings.
target_compile_definitions(cce_common_cfg INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH)

if(CCE_SANITIZE)
  target_compile_options(cce_common_cfg INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(cce_common_cfg INTERFACE -fsanitize=address,undefined)
endif()

# Libraries export only what they mark (see each library's generated *_export.h).
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
include(GenerateExportHeader)

# cce_strict_text(<target>): no implicit QString from a char*; for the code that already
# writes every literal as QStringLiteral or QLatin1String.
function(cce_strict_text target)
  target_compile_definitions(${target} PRIVATE QT_NO_CAST_FROM_ASCII)
endfunction()

# cce_add_subfolders(): adds every folder below this one that has a CMakeLists.txt, in
# name order (tests and benchmarks grow one folder at a time).
function(cce_add_subfolders)
  file(GLOB_RECURSE _lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT _lists)
  foreach(_list ${_lists})
    get_filename_component(_dir ${_list} DIRECTORY)
    add_subdirectory(${_dir})
  endforeach()
endfunction()

# cce_framework_library(<target> <folder> <ExportHeader.h>): a shared library of the
# framework made of every source in its folder, included as "<folder>/...", exporting what
# its generated header's macro marks.
function(cce_framework_library target folder export_header)
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${target} SHARED ${_sources})
  generate_export_header(${target} BASE_NAME fw_${folder}
    EXPORT_FILE_NAME ${CMAKE_BINARY_DIR}/exports/${folder}/${export_header})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/framework ${CMAKE_BINARY_DIR}/exports)
  target_link_libraries(${target} PRIVATE cce_common_cfg)
  cce_strict_text(${target})
endfunction()

# cce_include_root(<target> <folder>): the target's headers are included as "<folder>/..."
# from a root of its own that holds that folder alone (a link to it in the build tree).
# A library then sees the headers of exactly the libraries it links, so an include that
# runs against the intended direction fails to build.
function(cce_include_root target folder)
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(_parent ${_root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${_root}/${folder} SYMBOLIC)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${_root})
  else()
    target_include_directories(${target} PUBLIC ${_root})
  endif()
endfunction()
