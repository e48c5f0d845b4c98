# The whole-process benchmark runs the `linkferry` program of this build and, for its breakdown,
# the steps of the command itself (LinkferryApp) and a Chromium-schema History fixture.
target_link_libraries(bench_open_process PRIVATE lf_app SQLite::SQLite3)
target_include_directories(bench_open_process PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_open_process PRIVATE
  LINKFERRY_PROGRAM="$<TARGET_FILE:linkferry>")
add_dependencies(bench_open_process linkferry)
