# Stops the configuration unless the C++ compiler can build and link a 32-bit
# x86 program.
function(require_m32_toolchain)
  if(DEFINED ENV{CXX})
    set(probe_cxx $ENV{CXX})
  else()
    find_program(probe_cxx NAMES c++ g++)
  endif()
  set(dir ${CMAKE_BINARY_DIR}/m32_probe)
  file(WRITE ${dir}/probe.cc "#include <cstdio>\nint main() { std::puts(\"ok\"); return sizeof(void *) == 4 ? 0 : 1; }\n")
  execute_process(COMMAND ${probe_cxx} -m32 ${dir}/probe.cc -o ${dir}/probe
                  RESULT_VARIABLE built OUTPUT_QUIET ERROR_VARIABLE build_error)
  if(built EQUAL 0)
    execute_process(COMMAND ${dir}/probe RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT built EQUAL 0 OR NOT ran EQUAL 0)
    message(FATAL_ERROR
      "No working 32-bit x86 (-m32) C++ toolchain: the host library is i386 code.\n"
      "Install Debian's g++-multilib package:  apt-get install g++-multilib\n"
      "Compiler said:\n${build_error}")
  endif()
endfunction()
