# Include roots per layer. Every include line names `folder/File.h`; a
# target finds only the folders (or single headers) that its layer may use,
# because its include folder is a generated one holding links to exactly
# those, never the repository root. Crossing a layer is then a compile
# error ("No such file or directory"), not a review comment.
#
#   kestrelumen_include_root(<name> [FOLDERS <folder>...] [FILES <header>...])
#
# makes ${PROJECT_BINARY_DIR}/include/<name>/ and sets <name>_INCLUDE_ROOT
# in the caller's scope to it. FILES link single headers, for a layer that
# may see part of a folder (the host interface declarations, without the
# plug-in's own suite access beside them in host/).
function(kestrelumen_include_root name)
  cmake_parse_arguments(arg "" "" "FOLDERS;FILES" ${ARGN})
  set(root "${PROJECT_BINARY_DIR}/include/${name}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}")
  foreach(path IN LISTS arg_FOLDERS arg_FILES)
    if(NOT EXISTS "${PROJECT_SOURCE_DIR}/${path}")
      message(FATAL_ERROR "include root ${name}: no ${path} in the source tree")
    endif()
    get_filename_component(parent "${root}/${path}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${path}" "${root}/${path}" SYMBOLIC)
  endforeach()
  set(${name}_INCLUDE_ROOT "${root}" PARENT_SCOPE)
endfunction()
