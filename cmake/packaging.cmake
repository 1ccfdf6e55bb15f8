# The Debian package, made by CPack in a build folder configured with
# -DCMAKE_INSTALL_PREFIX=/usr:  cpack -G DEB
# It holds what `cmake --install` installs: both programs, their manual
# pages, the model with its calibration and a configuration naming them
# (found by the installed program without one of the user's own), the
# library and its headers, and the documentation installed below.
install(FILES README.md LICENSE CITATION.cff docs/usage.md docs/model.md docs/python.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES data/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.data.md)

set(CPACK_PACKAGE_NAME velcorin2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The velcorin2 developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "coiled-coil prediction from pair correlations across heptad registers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# Staged under DESTDIR with the configured prefix, so that the configuration
# written at install time names the files where the package puts them.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The velcorin2 developers")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_PACKAGE_DESCRIPTION
    "velcorin2 scores every residue of protein sequences (FASTA, plain or compressed) for how well the \
stretch around it fits a coiled coil and writes a per-residue table (register, p-score, score), \
coiled-coil regions as GFF3 or TSV, logs and a PostScript plot. velcorin2-counts makes the count \
files and p-score calibrations of a model. The package ships a calibrated model that the program \
uses without any configuration.")
# The C and C++ libraries the programs link, found by dpkg-shlibdeps; zcat
# (gzip) reads compressed input, man-db is only suggested.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS gzip)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS man-db)
include(CPack)
