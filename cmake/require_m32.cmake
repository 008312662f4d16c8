# Stops the configuration unless the C++ compiler can build and link a 32-bit
# x86 program and this machine can run it, and says which of the two failed.
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
  if(NOT built EQUAL 0)
    message(FATAL_ERROR
      "No working 32-bit x86 (-m32) C++ toolchain: the host library is i386 code.\n"
      "Install Debian's g++-multilib package:  apt-get install g++-multilib\n"
      "Compiler said:\n${build_error}")
  endif()
  execute_process(COMMAND ${dir}/probe RESULT_VARIABLE ran OUTPUT_QUIET ERROR_VARIABLE run_error)
  if(NOT ran EQUAL 0)
    message(FATAL_ERROR
      "A 32-bit x86 program was built but does not run here (${ran}): this kernel does "
      "not run 32-bit x86 programs (IA-32 emulation is off), and the build and the tests "
      "run them.\n"
      "scripts/test.sh and scripts/demo.sh, run as root, set up user-mode emulation "
      "(Debian's qemu-user-static registered for i386 programs in binfmt_misc); "
      "run as another user, scripts/install-deps.sh prints the commands for root.\n"
      "${run_error}")
  endif()
endfunction()
