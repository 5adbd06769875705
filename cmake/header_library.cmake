# qvx_copy_header_library(<NAME> <header> <folder> <package>): finds the header-only library
# whose <header> lies under <folder> (the cache variable QVX_<NAME>_INCLUDE_DIR overrides the
# search), copies <folder> into the build tree and sets QVX_<NAME>_DIR to the copy's include
# folder.
# The copy lets the cross builds use the host's headers without putting the host's include
# folder on their include path. A missing library stops the configure step with its name.
function(qvx_copy_header_library name header folder package)
  set(cache_var QVX_${name}_INCLUDE_DIR)
  find_path(${cache_var} ${header} NO_CMAKE_FIND_ROOT_PATH
            DOC "The folder holding ${header} (${package}; scripts/bootstrap installs it)")
  if(NOT ${cache_var})
    message(FATAL_ERROR "${header} not found (${package}): run scripts/bootstrap, or set "
                        "${cache_var} to the folder holding ${header}")
  endif()
  set(copy ${CMAKE_BINARY_DIR}/third_party/${name})
  file(COPY ${${cache_var}}/${folder} DESTINATION ${copy})
  set(QVX_${name}_DIR ${copy} PARENT_SCOPE)
endfunction()
