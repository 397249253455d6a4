# Layers: each folder of a part (src/, testserver/) builds one target that
# sees the headers of its own folder and of the folders it is allowed to use,
# included as "folder/name.h". The include root of a layer holds links to
# just those folders, so an include that reaches elsewhere does not compile.
#
# dv_layer_include_root(TARGET ROOT FOLDER...): makes the include root ROOT
# (a name unique in the build) with links to FOLDER... beside the calling
# folder, and gives it to TARGET (PUBLIC: what links TARGET sees it too).
function(dv_layer_include_root target root)
  set(dir "${CMAKE_BINARY_DIR}/include/${root}")
  get_filename_component(part "${CMAKE_CURRENT_SOURCE_DIR}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  foreach(folder ${ARGN})
    if(NOT EXISTS "${dir}/${folder}")
      file(CREATE_LINK "${part}/${folder}" "${dir}/${folder}" SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC "${dir}")
endfunction()
