# Debian package of the installed tree: `cpack -G DEB` in the build folder gives
# scorlet_<version>_<arch>.deb. The dependencies come from dpkg-shlibdeps (package dpkg-dev).

set(CPACK_PACKAGE_NAME scorlet)
set(CPACK_PACKAGE_VENDOR Zentriq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "grade Plexa lesson tests into grade-book CSV files")
# One string per line of the control file's long description, which wants short lines.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Scorlet opens a Plexa lesson document, kept by the Canvaro lesson application"
    "with every run of its tests and every student's answers, grades each answer"
    "against the question's correct answer and writes grade-book CSV files: one"
    "line per student with a grade from 0 to 100. Pages marked for a class get a"
    "file of their own."
    ""
    "The package holds the desktop program scorlet and the terminal program"
    "scorlet-export, which does the same export from a script.")
set(CPACK_PACKAGE_CONTACT "Zentriq <support@zentriq.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_NAME scorlet)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zentriq <support@zentriq.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libqt6gui6 only recommends the platform plugins, yet the window cannot start without one.
if(TARGET scorlet)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
# The name Debian gives it: scorlet_<version>_<arch>.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
