# The URL benchmark compares our wrapper with a bare uriparser parse of the same links.
target_link_libraries(bench_url PRIVATE PkgConfig::URIPARSER)
