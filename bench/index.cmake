# The index benchmark writes Chromium-schema databases with the fixture schemas and compares the
# index build with a bare SQLite loop over the same rows.
target_link_libraries(bench_index PRIVATE SQLite::SQLite3)
target_include_directories(bench_index PRIVATE ${CMAKE_SOURCE_DIR}/tests)
