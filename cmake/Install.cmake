# `cmake --install`: the core library (and the widget when built) with their headers under
# include/scopa, a CMake package (find_package(Scopa) gives Scopa::Core and Scopa::Widget)
# and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SCOPA_INSTALL_HEADER_DIR ${CMAKE_INSTALL_INCLUDEDIR}/scopa)
set(SCOPA_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Scopa)

set_target_properties(scopa PROPERTIES EXPORT_NAME Core)
set(SCOPA_INSTALLED_TARGETS scopa scopa_dependencies)
set(SCOPA_PC_REQUIRES "libjpeg libpng libtiff-4 libwebp libwebpdemux cairo librsvg-2.0 blkid")
set(SCOPA_PC_LIBS "-lscopa")
if(TARGET scopa_widget)
    set_target_properties(scopa_widget PROPERTIES EXPORT_NAME Widget)
    target_include_directories(scopa_widget INTERFACE $<INSTALL_INTERFACE:include/scopa>)
    list(APPEND SCOPA_INSTALLED_TARGETS scopa_widget)
    set(SCOPA_PC_REQUIRES "${SCOPA_PC_REQUIRES} Qt6Widgets")
    set(SCOPA_PC_LIBS "-lscopa_widget ${SCOPA_PC_LIBS}")
    set(SCOPA_WITH_WIDGET ON)
    install(TARGETS scopa-view RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS ${SCOPA_INSTALLED_TARGETS} EXPORT ScopaTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS scopa-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(dir ${SCOPA_CORE_DIRS} widget)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir})
        install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ DESTINATION ${SCOPA_INSTALL_HEADER_DIR}/${dir}
                FILES_MATCHING PATTERN "*.h" PATTERN "tests" EXCLUDE PATTERN "bench" EXCLUDE
                PATTERN "view" EXCLUDE)
    endif()
endforeach()
install(EXPORT ScopaTargets NAMESPACE Scopa:: DESTINATION ${SCOPA_INSTALL_CMAKE_DIR})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ScopaConfig.cmake.in
    ${CMAKE_BINARY_DIR}/ScopaConfig.cmake INSTALL_DESTINATION ${SCOPA_INSTALL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ScopaConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ScopaConfig.cmake ${CMAKE_BINARY_DIR}/ScopaConfigVersion.cmake
        DESTINATION ${SCOPA_INSTALL_CMAKE_DIR})

# The pkg-config file finds the prefix from where it lies, so the tree can be installed anywhere.
file(RELATIVE_PATH SCOPA_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/scopa.pc.in ${CMAKE_BINARY_DIR}/scopa.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/scopa.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
