# host_library: what the programs link for the board API. By default the
# stand-in built in host_sim/; with HOST_LIBRARY_DIR the maker's own libraries.
# Either way the programs carry DT_NEEDED keldlib_mt.so and udralib_mt.so and a
# DT_RUNPATH (never a DT_RPATH), so LD_LIBRARY_PATH can point them elsewhere.
add_library(host_library INTERFACE)
target_link_libraries(host_library INTERFACE board_api)
target_link_options(host_library INTERFACE -Wl,--enable-new-dtags)

if(HOST_LIBRARY_DIR)
  foreach(lib keldlib_mt.so udralib_mt.so)
    if(NOT EXISTS ${HOST_LIBRARY_DIR}/${lib})
      message(FATAL_ERROR "HOST_LIBRARY_DIR=${HOST_LIBRARY_DIR} has no ${lib}")
    endif()
  endforeach()
  target_link_options(host_library INTERFACE -L${HOST_LIBRARY_DIR}
                      -Wl,--no-as-needed -l:keldlib_mt.so -l:udralib_mt.so -Wl,--as-needed)
  set(HOST_LIBRARY_RUNPATH ${HOST_LIBRARY_DIR})
else()
  set(HOST_LIBRARY_RUNPATH ${OUTPUT_LIB})
endif()

# Links a program against the host library with the run path set.
function(link_host_library target)
  if(HOST_LIBRARY_DIR)
    target_link_libraries(${target} PRIVATE host_library)
  else()
    target_link_libraries(${target} PRIVATE host_library
                          -Wl,--no-as-needed keldlib_mt udralib_mt -Wl,--as-needed)
  endif()
  set_target_properties(${target} PROPERTIES BUILD_RPATH ${HOST_LIBRARY_RUNPATH}
                                              INSTALL_RPATH ${HOST_LIBRARY_RUNPATH})
endfunction()
