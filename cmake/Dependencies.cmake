# Every library the core uses, gathered behind one interface target.
# The installed CMake package finds the same libraries again (cmake/ScopaConfig.cmake.in), and
# the pkg-config file names the same modules: keep the three lists alike.
set(SCOPA_PKG_CONFIG_MODULES libjpeg libpng libwebp libwebpdemux)
# The vector stack (cairo, librsvg and what they bring), libtiff, libmount and libblkid are
# loaded with dlopen on first use (platform/loaded_libraries.h): only their headers are used at
# build time, and a consumer of the library does not link them.
set(SCOPA_LOADED_PKG_CONFIG_MODULES cairo librsvg-2.0 libtiff-4 mount blkid)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GIF REQUIRED)
pkg_check_modules(SCOPA_PKGS REQUIRED IMPORTED_TARGET ${SCOPA_PKG_CONFIG_MODULES})
pkg_check_modules(SCOPA_LOADED_PKGS REQUIRED ${SCOPA_LOADED_PKG_CONFIG_MODULES})

add_library(scopa_dependencies INTERFACE)
set_target_properties(scopa_dependencies PROPERTIES EXPORT_NAME Dependencies)
target_link_libraries(scopa_dependencies INTERFACE
    PkgConfig::SCOPA_PKGS GIF::GIF Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(scopa_dependencies SYSTEM INTERFACE ${SCOPA_LOADED_PKGS_INCLUDE_DIRS})

# Header-only libraries of the command-line tool alone: its command line and its JSON output.
find_package(CLI11 REQUIRED)
find_package(nlohmann_json REQUIRED)

find_package(GTest REQUIRED)
if(SCOPA_BENCH)
    find_package(benchmark QUIET)
    if(NOT benchmark_FOUND)
        message(STATUS "Google Benchmark not found: benchmarks are not built")
        set(SCOPA_BENCH OFF)
    endif()
endif()
