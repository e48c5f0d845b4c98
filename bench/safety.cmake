# libpsl runs beside our registrable-domain lookup on the same corpus, for the ratio.
pkg_check_modules(LIBPSL REQUIRED IMPORTED_TARGET libpsl)
target_link_libraries(bench_safety PRIVATE PkgConfig::LIBPSL)
target_compile_definitions(bench_safety PRIVATE LINKFERRY_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# A fresh process that times its first lookup, spawned by bench_safety.
add_executable(suffix_probe ${CMAKE_CURRENT_SOURCE_DIR}/suffix_probe.cpp)
target_link_libraries(suffix_probe PRIVATE lf_safety)
add_dependencies(bench_safety suffix_probe)
target_compile_definitions(bench_safety PRIVATE LINKFERRY_SUFFIX_PROBE="$<TARGET_FILE:suffix_probe>")
