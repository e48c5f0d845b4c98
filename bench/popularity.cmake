# The popularity benchmark reports the heap the rebuild needs (HeapPeak.cpp replaces the malloc
# family in this program).
target_sources(bench_popularity PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HeapPeak.cpp)
target_include_directories(bench_popularity PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
