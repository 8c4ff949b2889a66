# Every library the core uses, gathered behind one interface target.
# The installed CMake package finds the same libraries again (cmake/ScopaConfig.cmake.in), and
# the pkg-config file names the same modules: keep the three lists alike.
set(SCOPA_PKG_CONFIG_MODULES
    libjpeg libpng libtiff-4 libwebp libwebpdemux cairo librsvg-2.0 blkid)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GIF REQUIRED)
pkg_check_modules(SCOPA_PKGS REQUIRED IMPORTED_TARGET ${SCOPA_PKG_CONFIG_MODULES})

add_library(scopa_dependencies INTERFACE)
set_target_properties(scopa_dependencies PROPERTIES EXPORT_NAME Dependencies)
target_link_libraries(scopa_dependencies INTERFACE
    PkgConfig::SCOPA_PKGS GIF::GIF Threads::Threads)

find_package(GTest REQUIRED)
if(SCOPA_BENCH)
    find_package(benchmark QUIET)
    if(NOT benchmark_FOUND)
        message(STATUS "Google Benchmark not found: benchmarks are not built")
        set(SCOPA_BENCH OFF)
    endif()
endif()
