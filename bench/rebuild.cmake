# The rebuild benchmark runs the real-browser fixture (its script and the C++ that reads its
# manifest, shared with the tests), grows a copy of its Chromium profile with the fixture schemas'
# helpers, and counts every allocation (HeapPeak.cpp replaces the malloc family in this program).
target_sources(bench_rebuild PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/HeapPeak.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/TestSupport.cpp
  ${CMAKE_SOURCE_DIR}/tests/fixtures/RealBrowsers.cpp)
target_link_libraries(bench_rebuild PRIVATE SQLite::SQLite3)
target_include_directories(bench_rebuild PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(bench_rebuild PRIVATE
  LINKFERRY_SOURCE_DIR="${CMAKE_SOURCE_DIR}" LINKFERRY_BINARY_DIR="${CMAKE_BINARY_DIR}")
