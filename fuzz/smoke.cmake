# A short run of every fuzz target, from the native build's tests. The fuzz targets need
# their own clang build, which run.sh configures in a folder beside this build's.
add_test(NAME fuzz_smoke COMMAND ${PROJECT_SOURCE_DIR}/fuzz/run.sh 10)
set_tests_properties(fuzz_smoke PROPERTIES
  ENVIRONMENT "QUORVEL_FUZZ_BUILD=${PROJECT_BINARY_DIR}/fuzz-build"
  TIMEOUT 300)
