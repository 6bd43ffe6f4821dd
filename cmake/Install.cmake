# What `cmake --install` puts in place: the shared library (with its soname), the public
# headers, the `ucap` tool and its manual page, a CMake package (find_package(ucap) gives ucap::ucap), a
# pkg-config file (ucap.pc) and the Python package. Every path the installed files name is
# relative to the file that names it, so an installed tree may be moved as a whole.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT WIN32)  # the DLL keeps its one name, ucap.dll
  set_target_properties(ucap PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
install(TARGETS ucap EXPORT ucapTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ucap/ucap.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ucap)
if(UCAP_WITH_VCAM)
  install(FILES ${PROJECT_SOURCE_DIR}/include/ucap/vcam.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ucap)
endif()

# Where the library lies, seen from another installed folder.
if(WIN32)
  set(ucap_library_dir ${CMAKE_INSTALL_BINDIR})
else()
  set(ucap_library_dir ${CMAKE_INSTALL_LIBDIR})
endif()
function(ucap_relative_to_library out from_dir)
  file(RELATIVE_PATH rel /prefix/${from_dir} /prefix/${ucap_library_dir})
  if(rel STREQUAL "")
    set(rel .)
  endif()
  set(${out} ${rel} PARENT_SCOPE)
endfunction()

if(TARGET ucap_tool)
  ucap_relative_to_library(tool_to_library ${CMAKE_INSTALL_BINDIR})
  set_target_properties(ucap_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${tool_to_library}")
  install(TARGETS ucap_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET gstucap)
  ucap_relative_to_library(gst_to_library ${CMAKE_INSTALL_LIBDIR}/gstreamer-1.0)
  set_target_properties(gstucap PROPERTIES INSTALL_RPATH "$ORIGIN/${gst_to_library}")
  install(TARGETS gstucap LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/gstreamer-1.0)
endif()
if(TARGET ucap_man)
  install(FILES ${PROJECT_BINARY_DIR}/tools/ucap.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# CMake package.
set(ucap_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ucap)
install(EXPORT ucapTargets NAMESPACE ucap:: DESTINATION ${ucap_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ucapConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ucapConfig.cmake INSTALL_DESTINATION ${ucap_cmake_dir})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ucapConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ucapConfig.cmake ${PROJECT_BINARY_DIR}/ucapConfigVersion.cmake
  DESTINATION ${ucap_cmake_dir})

# pkg-config: the prefix is found from the file's own folder.
set(ucap_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH UCAP_PC_TO_PREFIX /prefix/${ucap_pkgconfig_dir} /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ucap.pc.in ${PROJECT_BINARY_DIR}/ucap.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ucap.pc DESTINATION ${ucap_pkgconfig_dir})

# Python package: into the dist-packages folder of Debian's python3 under the prefix
# (/usr/local/lib/python3.X/dist-packages is on its path; under /usr, Debian's packages use
# /usr/lib/python3/dist-packages), with a note where the library is.
# A folder chosen here is chosen again when the prefix changes; one given by hand stays.
if(NOT DEFINED UCAP_INSTALL_PYTHONDIR OR (UCAP_INSTALL_PYTHONDIR STREQUAL UCAP_PYTHONDIR_CHOSEN AND
                                          NOT UCAP_PYTHONDIR_PREFIX STREQUAL CMAKE_INSTALL_PREFIX))
  set(python_dir lib/python3/dist-packages)
  find_program(UCAP_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(UCAP_DEBIAN_PYTHON AND NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    execute_process(COMMAND ${UCAP_DEBIAN_PYTHON} -c "import sys; print('%d.%d' % sys.version_info[:2])"
                    OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(NOT failed)
      set(python_dir lib/python${python_version}/dist-packages)
    endif()
  endif()
  set(UCAP_INSTALL_PYTHONDIR ${python_dir} CACHE STRING "Where `cmake --install` puts the Python package" FORCE)
  set(UCAP_PYTHONDIR_CHOSEN ${python_dir} CACHE INTERNAL "")
  set(UCAP_PYTHONDIR_PREFIX ${CMAKE_INSTALL_PREFIX} CACHE INTERNAL "")
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/ucap DESTINATION ${UCAP_INSTALL_PYTHONDIR}
  FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
ucap_relative_to_library(python_to_library ${UCAP_INSTALL_PYTHONDIR}/ucap)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/python/_installed.py CONTENT
"# Written by `cmake --install`: where the installed library lies, relative to this folder.
LIBRARY = \"${python_to_library}/$<TARGET_FILE_NAME:ucap>\"
")
install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py DESTINATION ${UCAP_INSTALL_PYTHONDIR}/ucap)
