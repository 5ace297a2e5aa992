# libFuzzer targets where hostile bytes enter the program. libFuzzer comes with clang only, so
# each target is built by clang, outside the GCC toolchain, from the sources it needs, and only
# where clang++ links libFuzzer (libclang-rt-*-dev). ctest runs each for a bounded time on its
# corpus from the repository; what the run adds goes to a folder in the build tree.
#
# Sources compiled here must not rely on GBK literals: clang has no -fexec-charset, so their
# fixed texts are UTF-8 in these builds. The code paths are the same.

find_program(VM_CLANGXX NAMES clang++ clang++-14)
if(VM_CLANGXX AND NOT DEFINED VM_CLANG_LINKS_FUZZER)
  set(probe ${CMAKE_BINARY_DIR}/fuzz_probe)
  file(WRITE ${probe}.cpp "#include <cstddef>\n#include <cstdint>\nextern \"C\" int "
       "LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
  execute_process(COMMAND ${VM_CLANGXX} -fsanitize=fuzzer,address,undefined ${probe}.cpp -o ${probe}
    RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(VM_CLANG_LINKS_FUZZER ON CACHE INTERNAL "clang++ links libFuzzer")
  else()
    set(VM_CLANG_LINKS_FUZZER OFF CACHE INTERNAL "clang++ links libFuzzer")
  endif()
endif()

set(VM_FUZZ_SECONDS 45 CACHE STRING "Seconds ctest runs each fuzz target")

# vm_fuzz_target(name SOURCES files... CORPUS folders... [LIBS flags...] [SEEDS targets...])
function(vm_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;SEEDS;CORPUS" ${ARGN})
  if(NOT (VM_CLANGXX AND VM_CLANG_LINKS_FUZZER))
    return()
  endif()
  set(binary ${CMAKE_CURRENT_BINARY_DIR}/${name}er)
  add_custom_command(OUTPUT ${binary}
    COMMAND ${VM_CLANGXX} -std=c++20 -g -O1 -Wall -Wextra -Werror
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
            -I${PROJECT_SOURCE_DIR}/src ${F_SOURCES} ${F_LIBS} -o ${binary}
    DEPENDS ${F_SOURCES}
    COMMENT "Building the ${name} fuzz target with clang" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${binary})
  if(F_SEEDS)
    add_dependencies(${name} ${F_SEEDS})
  endif()
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${name}_found)
  file(MAKE_DIRECTORY ${found})
  # A fixed seed makes the run a gate that gives the same answer on every machine (a slower one
  # covers a prefix of the same inputs); exploring goes on outside ctest with other seeds.
  # A header may declare sizes no machine has, and libarchive sizes its buffers from them (a
  # calloc for 100 million entries): in the program such an allocation is address space that is
  # never touched, or a null that refuses the archive, so it is here too. What the run really
  # uses is bounded by the resident limit.
  add_test(NAME ${name}
    COMMAND ${binary} -seed=1 -max_total_time=${VM_FUZZ_SECONDS} -rss_limit_mb=2048
            -malloc_limit_mb=65536 -print_final_stats=1 ${found} ${F_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS integration
    TIMEOUT 300
    ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::allocator_may_return_null=1")
endfunction()
