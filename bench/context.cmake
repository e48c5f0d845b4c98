# The context sources live in the Linux application; their stand-ins in the tests' fixtures.
target_link_libraries(bench_context PRIVATE lf_app)
target_include_directories(bench_context PRIVATE ${CMAKE_SOURCE_DIR}/tests)
