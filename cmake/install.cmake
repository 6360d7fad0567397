# Install rules and the Debian package, included from the top-level
# CMakeLists.txt once the programs are defined.
#
# `cmake --install build --prefix DIR` lays out:
#   DIR/bin/etiquem, DIR/bin/etiquem-dic
#   DIR/share/etiquem/*.bin                 (the dictionaries; rules in data/)
#   DIR/share/man/man1/etiquem.1, etiquem-dic.1
#   DIR/share/doc/etiquem/README.md, LICENSE, NOTICE
#   DIR/share/bash-completion/completions/etiquem, etiquem-dic
# etiquem finds its default dictionary at ../share/etiquem/default.bin from
# its own directory, so the tree works wherever it is moved, and the same
# layout under /usr is what the Debian package holds.

include(GNUInstallDirs)

install(TARGETS etiquem etiquem-dic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/etiquem.1
              ${PROJECT_SOURCE_DIR}/man/etiquem-dic.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/NOTICE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# One completion script serves both commands; bash-completion loads a
# command's script by its name, so it is installed under both.
install(FILES ${PROJECT_SOURCE_DIR}/completion/etiquem.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME etiquem)
install(FILES ${PROJECT_SOURCE_DIR}/completion/etiquem.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME etiquem-dic)

# The Debian package: `cpack -G DEB` in the build tree. The shared
# libraries' packages are found by dpkg-shlibdeps (package dpkg-dev); where
# it is missing, the libraries a g++ build links are declared by hand.
set(CPACK_PACKAGE_NAME etiquem)
set(CPACK_PACKAGE_VENDOR "The etiquem developers")
set(CPACK_PACKAGE_CONTACT "The etiquem developers <etiquem@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "running-text annotator driven by a letter-transducer dictionary")
set(CPACK_PACKAGE_DESCRIPTION
    "etiquem cuts Latin-1 running text into words as it reads, looks each\n\
word up in a dictionary compiled into a letter transducer, and writes the\n\
text back with every recognised stretch replaced by its readings.\n\
etiquem-dic compiles full-form lexicons and AT&T transducers into its\n\
automaton files. A sample Catalan dictionary is included.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(ETIQUEM_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ETIQUEM_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
