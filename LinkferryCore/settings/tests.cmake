# A program that writes settings and log entries from another process: the crash test kills it
# mid-write, the concurrency test runs two at once.
add_executable(settings_probe ${CMAKE_SOURCE_DIR}/tests/fixtures/settings_probe.cpp)
target_include_directories(settings_probe PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(settings_probe PRIVATE lf_settings)
add_dependencies(test_settings settings_probe)
target_compile_definitions(test_settings PRIVATE
  LINKFERRY_SETTINGS_PROBE="$<TARGET_FILE:settings_probe>")
