# The service benchmark runs the `linkferry` program of the same build as whole processes.
add_dependencies(bench_service linkferry linkferry-open)
target_compile_definitions(bench_service PRIVATE LINKFERRY_PROGRAM="$<TARGET_FILE:linkferry>"
  LINKFERRY_OPEN_PROGRAM="$<TARGET_FILE:linkferry-open>")
