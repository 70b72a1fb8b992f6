# What every target of the project is built with: C++20, warnings, and the sanitizers when asked.
# For fuzzing, everything is instrumented for coverage; only the fuzz target links libFuzzer.
if(PAIRSTREAM_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "PAIRSTREAM_FUZZ needs clang (libFuzzer); configure with the fuzz preset")
endif()

function(pairstream_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
  if(PAIRSTREAM_SANITIZE)
    target_compile_options(${target} PUBLIC
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(PAIRSTREAM_FUZZ)
    target_compile_options(${target} PUBLIC
      -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
      -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/coverage_ignore.txt)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()
