# Each library reaches the headers of the libraries it links, and no others.
#
# A library's headers are staged under build/layers/<target>/<folder>/ as links to the sources, and
# only that folder is the library's public include folder; so "#include <folder>/<name>.h" works in
# the library itself and in whatever links it, and an include of a library that is not linked (one
# of a higher layer, or one simply not declared) fails the build.
#
#   tavrin_layer(<target> <folder>)   e.g. tavrin_layer(tavrin_record record)
function(tavrin_layer target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(GLOB headers LIST_DIRECTORIES false CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  file(MAKE_DIRECTORY ${root}/${folder})
  # Links of headers that are gone go too.
  file(GLOB staged LIST_DIRECTORIES false ${root}/${folder}/*.h)
  foreach(link ${staged})
    get_filename_component(name ${link} NAME)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${folder}/${name})
      file(REMOVE ${link})
    endif()
  endforeach()
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  tavrin_refuse_relative_includes(${folder})
endfunction()

# An include by a relative path ("../acquisition/...") would reach past the staged headers: refused,
# like any other include of a library that is not linked.
function(tavrin_refuse_relative_includes folder)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} relative REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\./")
    if(relative)
      file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
      message(FATAL_ERROR "${name}: an include by a relative path (${relative}); include the library's "
                          "headers as <folder>/<name>.h and link the library")
    endif()
  endforeach()
endfunction()

# The tests' and benchmarks' own helpers, for the programs under tests/ and bench/: the whole
# folder, as "tests/..." or "bench/...".
#
#   tavrin_layer_whole(<target> <folder> [PUBLIC])
function(tavrin_layer_whole target folder)
  set(visibility PRIVATE)
  if(ARGC GREATER 2)
    set(visibility ${ARGV2})
  endif()
  set(root ${CMAKE_BINARY_DIR}/layers/${folder}-tree)
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${visibility} ${root})
endfunction()
