# libFuzzer targets. A fuzz build is its own clang build folder (scripts/fuzz makes
# build-fuzz/): every target is compiled with coverage hooks and ASan+UBSan, and each
# fuzz target links libFuzzer's driver. A target named <Name> keeps its seed corpus in
# Tests/Fuzz/corpus/<Name>/.
option(SORVAN_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(SORVAN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SORVAN_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# sorvan_add_fuzz_target(<Name> SOURCES <files...> LIBRARIES <libs...>)
# Does nothing unless SORVAN_FUZZ is on.
function(sorvan_add_fuzz_target name)
  if(NOT SORVAN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(FUZZ "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${FUZZ_SOURCES})
  target_link_libraries(${name} PRIVATE ${FUZZ_LIBRARIES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  sorvan_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY SORVAN_FUZZ_TARGETS ${name})
endfunction()
