# One layer of the filter: a static library of its folder's sources, with the
# platform's variant from the folder's posix/ or win32/ sub-folder, that may
# use only the layers it names in DEPENDS.
#
# The linker holds it to them: beside the library, a shared library made of
# the whole layer and nothing but what it depends on is linked with no
# undefined symbol allowed. A call from one layer into a layer it does not
# name (the pattern engine reaching into the request path, the activity log
# into the client table) leaves a symbol undefined there and fails the build.
set(SENTREL_LAYER_CHECK_SOURCE ${CMAKE_BINARY_DIR}/layer_check.cpp)
file(WRITE ${SENTREL_LAYER_CHECK_SOURCE}
     "// Nothing of its own: the layer under check is linked in whole.\n")

function(sentrel_layer name)
  cmake_parse_arguments(LAYER "" "" "SOURCES;POSIX;WIN32;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${LAYER_SOURCES})
  if(WIN32)
    target_sources(${name} PRIVATE ${LAYER_WIN32})
  else()
    target_sources(${name} PRIVATE ${LAYER_POSIX})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${LAYER_DEPENDS})
  if(NOT WIN32 AND NOT SENTREL_FUZZ)
    add_library(${name}_layer_check SHARED ${SENTREL_LAYER_CHECK_SOURCE})
    target_link_libraries(${name}_layer_check PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${name}>")
    target_link_options(${name}_layer_check PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
