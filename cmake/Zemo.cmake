# Build conventions shared by every subsystem.

# Codec output must be bit-exact whatever the compiler or -march: no contraction
# into fused multiply-adds, no fast-math reassociation anywhere in the project.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

set(ZEMO_SANITIZE "" CACHE STRING "Sanitizer build: address (ASan+UBSan) or thread (TSan)")

# The suite runs the code with the hardening the Debian packages are built
# with (dpkg-buildflags, hardening=+all): a write past the end of a stack
# array stops the program at once instead of going unseen. The sanitizer
# builds check that and more on their own.
if(NOT WIN32 AND ZEMO_SANITIZE STREQUAL "")
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()

if(ZEMO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(ZEMO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ZEMO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZEMO_SANITIZE must be empty, address or thread")
endif()

# The sanitizer builds and the Win64 build keep line tables only: their
# reports and backtraces still name functions, files and lines, and full
# debug information took a quarter more of the compiler's time (the
# ASan+UBSan build, measured file by file: 963 s against 756 s for three
# quarters of its files; it is the suite's longest step).
# The Windows packages strip it anyway. The plain build keeps all of it.
if(NOT ZEMO_SANITIZE STREQUAL "" OR WIN32)
  add_compile_options($<$<CONFIG:RelWithDebInfo>:-g1>)
endif()

# zemo_library(<target> [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# A static library from src/**/*.cpp with its public headers in include/.
function(zemo_library name)
  cmake_parse_arguments(Z "" "" "PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  # One platform's files carry its name: ..._linux.cpp, ..._windows.cpp.
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_linux\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  add_library(${name} STATIC ${srcs})
  # Fast paths chosen at run time carry their instruction set in the file
  # name; only those files are built for it, so the rest of the library still
  # runs on any x86-64. FMA stays off: it would change the float results.
  foreach(src ${srcs})
    if(src MATCHES "_avx2\\.cpp$")
      # On Windows the stack is only 16-byte aligned, but GCC spills 256-bit
      # registers with aligned moves: the assembler makes every such move
      # unaligned there.
      if(WIN32)
        set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mavx2;-mno-fma;-Wa,-muse-unaligned-vector-move")
      else()
        set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mavx2;-mno-fma")
      endif()
    elseif(src MATCHES "_avx512\\.cpp$")
      # No -mno-fma here: clang takes it to turn AVX-512 off as well. The
      # build's -ffp-contract=off keeps multiplies and adds apart anyway.
      if(WIN32)
        set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS
          "-mavx512f;-mavx512bw;-mavx512dq;-mavx512vl;-Wa,-muse-unaligned-vector-move")
      elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        # Clang 14 crashes selecting instructions for this file with full
        # debug information and ASan, UBSan and libFuzzer together (the
        # fuzzing build); line tables alone it compiles.
        set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS
          "-mavx512f;-mavx512bw;-mavx512dq;-mavx512vl;-gline-tables-only")
      else()
        set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mavx512f;-mavx512bw;-mavx512dq;-mavx512vl")
      endif()
    elseif(src MATCHES "_sse41\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-msse4.1")
    elseif(src MATCHES "_bmi2\\.cpp$")
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "-mbmi2")
    endif()
  endforeach()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                                     PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${Z_PUBLIC_DEPS} PRIVATE ${Z_PRIVATE_DEPS})
endfunction()

# zemo_test(<name> DEPS ... [LABELS ...] [ENVIRONMENT VAR=set:VALUE] [COSTS Test.Name=cost ...]):
# one GoogleTest executable
# test_<name> from the *.cpp files of the calling folder, registered with
# CTest. Its tests carry the labels, and the target tests_<label> builds
# every test executable with that label: the thread-sanitizer run builds
# and runs only the "threads" ones (ctest -L threads).
add_custom_target(tests_threads)
function(zemo_test name)
  cmake_parse_arguments(Z "" "" "DEPS;LABELS;ENVIRONMENT;COSTS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${name} ${srcs})
  if(WIN32)
    target_sources(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/utf8.rc)
  endif()
  target_link_libraries(test_${name} PRIVATE ${Z_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Cross-built programs are listed when ctest runs (through the emulator),
  # not at build time.
  set(discovery)
  if(CMAKE_CROSSCOMPILING)
    set(discovery DISCOVERY_MODE PRE_TEST)
  endif()
  # One variable more for the program's tests (ctest's ENVIRONMENT_MODIFICATION form).
  set(modification)
  if(Z_ENVIRONMENT)
    set(modification ENVIRONMENT_MODIFICATION "${Z_ENVIRONMENT}")
  endif()
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 120 ${discovery}
                       PROPERTIES ENVIRONMENT "ZEMO_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${modification}
                       LABELS "${Z_LABELS}")
  # A parallel ctest starts its costliest tests first; the tests are known
  # only once discovered, so their costs are set by a file that ctest
  # includes after the discovered list.
  if(Z_COSTS)
    set(costs)
    foreach(entry ${Z_COSTS})
      string(REPLACE "=" ";" pair "${entry}")
      list(GET pair 0 test)
      list(GET pair 1 cost)
      string(APPEND costs "set_tests_properties(\"${test}\" PROPERTIES COST ${cost})\n")
    endforeach()
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_${name}_costs.cmake "${costs}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/test_${name}_costs.cmake)
  endif()
  foreach(label ${Z_LABELS})
    add_dependencies(tests_${label} test_${name})
  endforeach()
endfunction()

# zemo_install_plugin(<target> SYSTEM_PREFIX <prefix> SYSTEM_DIR <dir> PREFIX_DIR <relative dir> [REFRESH <command>...])
# Installs a player's plug-in module: into the player's own folder
# (SYSTEM_DIR, with REFRESH run after) when installing to the player's
# prefix (SYSTEM_PREFIX, /usr for Debian's players), and into
# <prefix>/PREFIX_DIR under any other prefix, so that `cmake --install
# --prefix P` and a packager's DESTDIR never write outside the tree they
# name. The choice is made when installing, where --prefix is known.
function(zemo_install_plugin target)
  cmake_parse_arguments(Z "" "SYSTEM_PREFIX;SYSTEM_DIR;PREFIX_DIR" "REFRESH" ${ARGN})
  set(refresh "")
  if(Z_REFRESH)
    list(JOIN Z_REFRESH "\" \"" args)
    set(refresh "if(NOT DEFINED ENV{DESTDIR} OR \"\$ENV{DESTDIR}\" STREQUAL \"\")
        execute_process(COMMAND \"${args}\")
      endif()")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"${Z_SYSTEM_PREFIX}\")
      file(INSTALL DESTINATION \"${Z_SYSTEM_DIR}\" TYPE MODULE FILES \"$<TARGET_FILE:${target}>\")
      ${refresh}
    else()
      file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${Z_PREFIX_DIR}\" TYPE MODULE FILES \"$<TARGET_FILE:${target}>\")
    endif()")
endfunction()
