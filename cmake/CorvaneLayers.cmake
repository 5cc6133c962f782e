# The portable core is built as one static library per layer, each linking
# only the layers below it: core, formats, render, metadata, preview. Windows
# code lives in shell/ and settings/ alone; tools/check-layers.sh checks the
# includes the linker cannot see.
function(corvane_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 layer "" "" "SOURCES;BELOW")
  add_library(${name} STATIC ${layer_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${layer_BELOW} PRIVATE corvane_warnings)
  # Row conversion and accumulation are tight loops over whole rows: let the
  # optimiser vectorise them in every optimised build.
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-O3>)
  endif()
  if(CORVANE_FUZZ)
    # The whole core is instrumented for coverage, not just the harness.
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()
