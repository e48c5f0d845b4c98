# libpsl runs beside our registrable-domain lookup on the same corpus, for the ratio.
pkg_check_modules(LIBPSL REQUIRED IMPORTED_TARGET libpsl)
target_link_libraries(bench_safety PRIVATE PkgConfig::LIBPSL)
target_compile_definitions(bench_safety PRIVATE LINKFERRY_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
