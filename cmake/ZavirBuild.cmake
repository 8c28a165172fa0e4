# Compiler and linker settings of the three builds, and the helpers that
# declare a program and a host test.

if(ZAVIR_FUZZ)
  # clang only: every object carries libFuzzer's coverage hooks; the fuzz
  # targets alone link the fuzzer's main.
  set(ZAVIR_SANITIZE "-fsanitize=fuzzer-no-link,address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer")
  add_compile_options(-Wall -Wextra -g ${ZAVIR_SANITIZE})
elseif(ZAVIR_HOST)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(ZAVIR_SANITIZE "-fsanitize=address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer")
  add_compile_options(-Wall -Wextra -g ${ZAVIR_SANITIZE})
  add_link_options(${ZAVIR_SANITIZE})
else()
  # Small, self-contained programs: no exceptions, no RTTI, only Windows'
  # own DLLs imported.  No -fdata-sections: this compiler then writes
  # zero-initialised data out as zeros in .data instead of leaving it to .bss.
  # Link-time optimisation: the code is generated once for the whole program
  # (about 3 KB less on the medium).  -Oz: size before speed even where
  # -Os would take speed (about 900 bytes less; nothing here is CPU-bound).
  # -malign-data=abi: arrays at their type's alignment, not padded to 32
  # bytes for vector loads these programs never make (about 750 bytes).
  add_compile_options(-Wall -Oz -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
                      -ffunction-sections -fno-ident -flto -malign-data=abi)
  add_link_options(-static -s -Wl,--gc-sections -Wl,--no-insert-timestamp -flto -Oz
                   -malign-data=abi)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Windows 95/98/ME: Windows 4.0 headers and PE header, no ASLR or NX,
    # no relocations (Windows 9x loads a program at its own base, always).
    # Code for the 486 with its x87, which the assembler holds the compiler
    # to (and pads with NOPs the 486 has).
    set(ZAVIR_WIN9X ON)
    add_compile_options(-march=i486 -Wa,-march=i486+387)
    # The code is generated at the link: the same target there.
    add_link_options(-march=i486 -Wa,-march=i486+387)
    add_compile_definitions(WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0410
                            _WIN32_IE=0x0400)
    add_link_options(-Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section
                     -Wl,--major-os-version,4 -Wl,--minor-os-version,0
                     -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0)
  else()
    set(ZAVIR_WIN9X OFF)
    add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0500)
  endif()
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
endif()

# zavir_program(<target> <EXE name> SOURCES ... [RC file] [LIBS ...])
# Windows builds: the GUI executable <EXE name>.EXE.  Host build: a static
# library of the same sources, for the tests to drive.
function(zavir_program target exe)
  cmake_parse_arguments(P "" "RC" "SOURCES;LIBS" ${ARGN})
  if(ZAVIR_HOST)
    add_library(${target} STATIC ${P_SOURCES})
    target_link_libraries(${target} PUBLIC zavir_common ${P_LIBS})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  else()
    add_executable(${target} WIN32 ${P_SOURCES} ${P_RC})
    if(P_RC)
      # windres does not report the pictures a script includes: a redrawn
      # picture must still rebuild the program.
      file(GLOB pictures CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/*)
      set_source_files_properties(${P_RC} PROPERTIES OBJECT_DEPENDS "${pictures}")
    endif()
    target_link_libraries(${target} PRIVATE zavir_common ${P_LIBS})
    zavir_own_startup(${target})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${exe} SUFFIX ".EXE"
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    zavir_check_imports(${target})
  endif()
endfunction()

# A Windows executable that starts at startup/'s entry instead of the C
# runtime's and links no C library: only Windows' own DLLs and libgcc's
# arithmetic helpers.  No auto-import of a DLL's data: nothing would run
# the relocations it needs.
function(zavir_own_startup target)
  target_link_libraries(${target} PRIVATE zavir_startup kernel32 gcc)
  target_link_options(${target} PRIVATE -nostdlib -Wl,--disable-auto-import)
  if(ZAVIR_WIN9X)
    # The release's own section layout; any section it doesn't place is an
    # error.  --omagic leaves that section writable, so that the loaders fill
    # the import table in as they did in a section of its own.
    set(script ${PROJECT_SOURCE_DIR}/cmake/win9x.ld)
    target_link_options(${target} PRIVATE -Wl,-T,${script} -Wl,--orphan-handling=error
                        -Wl,--omagic)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
  endif()
endfunction()

# Every Windows 9x executable is checked against the allow-list of
# functions that Windows 98 SE really provides, and disassembled for
# instructions a 486 lacks.
function(zavir_check_imports target)
  if(ZAVIR_WIN9X)
    add_test(NAME win98_imports_${target}
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_imports.py
                     --objdump ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>)
    add_test(NAME i486_code_${target}
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_code.py
                     --objdump ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>)
  endif()
endfunction()

# zavir_host_test(<name> SOURCES ... LIBS ...): a GoogleTest program whose
# cases ctest runs one by one.
function(zavir_host_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ZAVIR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS host)
endfunction()

# zavir_fuzz_test(<name> SOURCES ... LIBS ... SEEDS <dir> RUNS <n>): a
# libFuzzer target, and a test that runs it for a fixed number of inputs
# from a fixed seed, starting from the seed files in <dir>, and prints the
# executions and their rate.  Nothing is written to <dir>; a failing input
# lands in the build folder as crash-*.
function(zavir_fuzz_test name)
  cmake_parse_arguments(F "" "SEEDS;RUNS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  file(GLOB seeds CONFIGURE_DEPENDS ${F_SEEDS}/*)
  list(JOIN seeds "," seeds)
  add_test(NAME ${name}
           COMMAND ${name} -runs=${F_RUNS} -seed=1 -max_len=128 -verbosity=0 -print_final_stats=1
                   -seed_inputs=${seeds} -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
