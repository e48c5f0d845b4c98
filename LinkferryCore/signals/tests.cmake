# Programs the signal tests run: a writer that keeps a copied database busy in WAL mode, and a
# probe that builds the index as another user.
add_executable(signals_wal_writer ${CMAKE_SOURCE_DIR}/tests/fixtures/wal_writer.cpp)
target_link_libraries(signals_wal_writer PRIVATE SQLite::SQLite3 Threads::Threads)
add_dependencies(test_signals signals_wal_writer)
target_compile_definitions(test_signals PRIVATE
  LINKFERRY_WAL_WRITER="$<TARGET_FILE:signals_wal_writer>")
add_executable(signals_index_probe ${CMAKE_SOURCE_DIR}/tests/fixtures/index_probe.cpp)
target_link_libraries(signals_index_probe PRIVATE lf_signals)
add_dependencies(test_signals signals_index_probe)
target_compile_definitions(test_signals PRIVATE
  LINKFERRY_INDEX_PROBE="$<TARGET_FILE:signals_index_probe>")
