# Reference implementations for the differential tests: libpsl (linked) for the registrable
# domain, libidn2's raw Punycode codec (reached with dlopen/dlvsym) for Punycode.
pkg_check_modules(LIBPSL REQUIRED IMPORTED_TARGET libpsl)
target_link_libraries(test_safety PRIVATE PkgConfig::LIBPSL ${CMAKE_DL_LIBS})
