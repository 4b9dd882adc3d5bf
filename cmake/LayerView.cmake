# A program in layers: one static library per layer, each including from the program's
# source root ("core/ServerCore.h") through a view folder of links that holds only its own
# folder and the layers below it, so that an include that goes up a layer finds no file and
# fails to compile.

# Makes VIEW hold a link to SOURCE_ROOT/<layer> for each layer from the bottom (the first
# of ARGN) up to and including LAYER, and nothing else.
function(make_layer_view view source_root layer)
  # Made anew at each configure: a link left from an earlier order would let the layer see
  # one above it. Removing a link leaves the folder it names alone.
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(visible ${ARGN})
    file(CREATE_LINK ${source_root}/${visible} ${view}/${visible} SYMBOLIC)
    if(visible STREQUAL layer)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "make_layer_view: ${layer} is not among the layers ${ARGN}")
endfunction()

#   add_layer_library(TARGET LAYER PUBLIC|PRIVATE LAYERS bottom ... top SOURCES files ...)
# The library TARGET of the sources of LAYER (a folder of the current source folder), which
# sees its layer's view; PUBLIC passes the view on to what links the library, which is
# always a layer above or a program on top, so it sees nothing it may not include.
function(add_layer_library target layer visibility)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "LAYERS;SOURCES")
  add_library(${target} STATIC ${arg_SOURCES})
  set(view ${CMAKE_CURRENT_BINARY_DIR}/layers/${layer})
  make_layer_view(${view} ${CMAKE_CURRENT_SOURCE_DIR} ${layer} ${arg_LAYERS})
  target_include_directories(${target} ${visibility} ${view})
endfunction()
