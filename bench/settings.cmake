# The log benchmarks report the heap a load needs (HeapPeak.cpp replaces the malloc family in
# this program).
target_sources(bench_settings PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HeapPeak.cpp)
target_include_directories(bench_settings PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
