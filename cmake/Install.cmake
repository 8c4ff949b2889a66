# What `cmake --install` puts under the prefix, and the Debian package cpack makes of it:
# the tool, the core library with its headers, a CMake package (Scopa::Core), a pkg-config
# file, the file managers' thumbnailer entry and the MIME package.
include(CMakePackageConfigHelpers)

install(TARGETS scopa-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS scopa scopa_dependencies EXPORT ScopaTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(dir ${SCOPA_CORE_DIRS})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ OPTIONAL
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/scopa/${dir} FILES_MATCHING PATTERN "*.h")
endforeach()

set(SCOPA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Scopa)
install(EXPORT ScopaTargets NAMESPACE Scopa:: DESTINATION ${SCOPA_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ScopaConfig.cmake.in
    ${CMAKE_BINARY_DIR}/ScopaConfig.cmake INSTALL_DESTINATION ${SCOPA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ScopaConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ScopaConfig.cmake ${CMAKE_BINARY_DIR}/ScopaConfigVersion.cmake
    DESTINATION ${SCOPA_CMAKE_DIR})

# The library is static: a consumer links its dependencies too.
# Paths are relative to the file's own folder, so the package may be installed anywhere.
list(JOIN SCOPA_PKG_CONFIG_MODULES " " SCOPA_PC_REQUIRES)
file(RELATIVE_PATH SCOPA_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SCOPA_PC_PREFIX_FROM_PCDIR "${SCOPA_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/scopa.pc.in ${CMAKE_BINARY_DIR}/scopa.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/scopa.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# File managers run the thumbnailer by its installed path; %i may be a file:// URI.
install(CODE "
    set(SCOPA_INSTALLED_TOOL \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/scopa\")
    configure_file(${CMAKE_SOURCE_DIR}/share/thumbnailers/scopa.thumbnailer
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/thumbnailers/scopa.thumbnailer\"
        @ONLY)
    message(STATUS \"Installing: thumbnailer entry for \${SCOPA_INSTALLED_TOOL}\")
")
install(FILES ${CMAKE_SOURCE_DIR}/share/mime/packages/scopa.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

set(CPACK_PACKAGE_NAME scopa)
set(CPACK_PACKAGE_VENDOR "Scopa")
set(CPACK_PACKAGE_CONTACT "Scopa developers <scopa@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Folder and preview viewer: thumbnails of documents, pilots and pictures")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# Dependencies come from the libraries the tool actually links (dpkg-shlibdeps), plus those
# it opens on first use (platform/loaded_libraries.h), which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libcairo2, librsvg2-2, libtiff6, libglib2.0-0, libmount1, libblkid1")
# The MIME database and thumbnail services pick the new files up through their own triggers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info")
include(CPack)
