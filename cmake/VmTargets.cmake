# Helpers that keep the two layers apart.
#
# Logic libraries (everything above src/platform) are compiled with GBK as the execution
# character set, so every fixed text in them is GBK at run time, and may link only vm_* targets.
# Platform libraries keep UTF-8 literals and are the only ones that link third-party libraries.

set(VM_WARNINGS -Wall -Wextra -Werror)
# GCC 12 reports -Wrestrict false positives inside libstdc++'s string code at -O2 and above.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND VM_WARNINGS -Wno-restrict)
endif()
set(VM_GBK_FLAGS -finput-charset=UTF-8 -fexec-charset=GBK)

function(_vm_check_logic_deps name)
  foreach(dep IN LISTS ARGN)
    if(NOT dep MATCHES "^vm_")
      message(FATAL_ERROR "${name}: logic targets link only vm_* targets, not ${dep}")
    endif()
  endforeach()
endfunction()

# vm_logic_library(<name> SOURCES ... [DEPS ...])
function(vm_logic_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  _vm_check_logic_deps(${name} ${ARG_DEPS})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VM_WARNINGS} ${VM_GBK_FLAGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vm_platform_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
function(vm_platform_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VM_WARNINGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# vm_test(<name> LABEL unit|integration|gui SOURCES ... DEPS ...)
# Tests are compiled with GBK literals like the logic; UTF-8 texts in tests are written u8"".
function(vm_test name)
  cmake_parse_arguments(ARG "SERIAL;UTF8" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # UTF8: a test that needs no GBK literal but a header GBK cannot spell (<chrono> has "µs").
  if(ARG_UTF8)
    target_compile_options(${name} PRIVATE ${VM_WARNINGS})
  else()
    target_compile_options(${name} PRIVATE ${VM_WARNINGS} ${VM_GBK_FLAGS})
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  # SERIAL: the test holds names that are one per user (the main window's message endpoint,
  # the single-instance event), so it must not overlap with another such test.
  set(serial FALSE)
  if(ARG_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} RUN_SERIAL ${serial})
endfunction()

# vm_embed(<target> <symbol> <file>): compiles <file> into <target> as
#   extern const unsigned char <symbol>[]; extern const std::size_t <symbol>_size;
function(vm_embed target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embed_${symbol}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol}
            -P ${PROJECT_SOURCE_DIR}/cmake/Embed.cmake
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/cmake/Embed.cmake
    COMMENT "Embedding ${symbol}")
  target_sources(${target} PRIVATE ${out})
endfunction()

# vm_embed_files(<target> <namespace> <function> <files...>): embeds the files into <target> with a
# lookup `std::string_view <namespace>::<function>(std::string_view fileName)` (empty if unknown).
function(vm_embed_files target namespace function)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embed_${function}.cpp)
  list(JOIN ARGN "|" joined)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} "-DFILES=${joined}" -DOUT=${out} -DNAMESPACE=${namespace}
            -DFUNCTION=${function} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake
    DEPENDS ${ARGN} ${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake
    COMMENT "Embedding ${function}" VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
