# The throughput benchmark runs the `linkferry` program of the same build as its service.
add_dependencies(bench_throughput linkferry)
target_compile_definitions(bench_throughput PRIVATE LINKFERRY_PROGRAM="$<TARGET_FILE:linkferry>")
