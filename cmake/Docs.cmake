# The HTML reference of the exported interface: `cmake --build <dir> --target docs` runs
# Debian's doxygen over the public headers and docs/reference into <dir>/docs/html. Any
# warning (an undocumented export, parameter or code among them) fails the target. No
# doxygen, no target.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(UCAP_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
  # The codes' meanings are the error-code enum's own doc comments (held equal to the
  # library's table by a test).
  set(UCAP_DOCS_INPUT ${PROJECT_SOURCE_DIR}/include/ucap ${PROJECT_SOURCE_DIR}/docs/reference/mainpage.dox)
  list(JOIN UCAP_DOCS_INPUT " " UCAP_DOCS_INPUT)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${UCAP_DOCS_DIR}/Doxyfile @ONLY)
  file(GLOB ucap_docs_inputs CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/include/ucap/*.h ${PROJECT_SOURCE_DIR}/docs/reference/*.dox)
  add_custom_command(OUTPUT ${UCAP_DOCS_DIR}/html/index.html
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${UCAP_DOCS_DIR}/html
    COMMAND Doxygen::doxygen ${UCAP_DOCS_DIR}/Doxyfile
    DEPENDS ${ucap_docs_inputs} ${UCAP_DOCS_DIR}/Doxyfile
    WORKING_DIRECTORY ${UCAP_DOCS_DIR}
    COMMENT "HTML reference (doxygen) in ${UCAP_DOCS_DIR}/html"
    VERBATIM)
  add_custom_target(docs DEPENDS ${UCAP_DOCS_DIR}/html/index.html)
endif()
