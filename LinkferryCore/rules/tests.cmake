# A small program that saves a rule set, so a test can run a save as an unprivileged user.
add_executable(rules_save_probe ${CMAKE_SOURCE_DIR}/tests/fixtures/rules_save_probe.cpp)
target_link_libraries(rules_save_probe PRIVATE lf_rules)
add_dependencies(test_rules rules_save_probe)
target_compile_definitions(test_rules PRIVATE
  LINKFERRY_RULES_SAVE_PROBE="$<TARGET_FILE:rules_save_probe>")
