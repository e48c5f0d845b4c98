# The memory figures count the heap (HeapPeak.cpp replaces the malloc family in this program).
target_sources(bench_log PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HeapPeak.cpp)
target_include_directories(bench_log PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
