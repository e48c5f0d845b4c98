# A small program that reads browser data so that a test can run it as an unprivileged user (CI
# runs as root, where file permissions do not bind).
add_executable(browsers_probe ${CMAKE_SOURCE_DIR}/tests/fixtures/browsers_probe.cpp)
target_link_libraries(browsers_probe PRIVATE lf_browsers)
add_dependencies(test_browsers browsers_probe)
target_compile_definitions(test_browsers PRIVATE
  LINKFERRY_BROWSERS_PROBE="$<TARGET_FILE:browsers_probe>")
