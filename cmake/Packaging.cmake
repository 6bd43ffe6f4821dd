# Packages of what `cmake --install` puts in place. Debian: `cpack -G DEB` in a build
# configured with -DCMAKE_INSTALL_PREFIX=/usr makes ucap_<version>_amd64.deb (library,
# headers, tool and its manual page, pkg-config and CMake files, the Python package in
# /usr/lib/python3/dist-packages).
set(CPACK_PACKAGE_NAME ucap)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ucap)
set(CPACK_PACKAGE_CONTACT "ucap maintainers <ucap@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driver library, tool and Python package of the 1394 color CCD microscopy camera")
set(CPACK_PACKAGE_DESCRIPTION
    "The camera's host-side library (flat C interface, ucap.h), the ucap command-line tool (OME-TIFF pictures and streams, calibration files, firmware), a CMake package, a pkg-config file and the Python package (numpy arrays). Carries the virtual camera when built with it.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # ucap_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libtiff, libpng, zlib, the C++ runtime, from the binaries
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(UCAP_PYTHON_PACKAGE_DIR ${CMAKE_INSTALL_PREFIX}/${UCAP_INSTALL_PYTHONDIR}/ucap)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-prerm.in ${PROJECT_BINARY_DIR}/debian/prerm @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/prerm)
set(CPACK_GENERATOR DEB)
include(CPack)
