# The Debian package, made by CPack from the install rules (scripts/package; the packaging
# test makes one from the build tree). The programs, the desktop entry, the icons and the
# AppStream file, the manual pages and the documents of packaging/ go under /usr; its version
# is the project() version with the package's revision.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME inkhaven)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Kestrelworks)
set(CPACK_PACKAGE_CONTACT "Kestrelworks <inkhaven@kestrelworks.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fill a business-proposal letter and save it as a Word document")
set(CPACK_PACKAGE_DESCRIPTION [[
Inkhaven turns one business-proposal letter template into a finished,
personalised letter: type the sender's and the recipient's data, look at
the filled letter page by page and save it as a Word 97-2003 document.
LibreOffice Writer fills and lays out the letter in the background.
.
inkhaven-batch is a mail merge without a window: it makes the letters of a
whole list (CSV, .xlsx or .ods), from the built-in letter or the user's own
template with text for some letters only, as .doc, .docx, .odt or PDF files
and one merged PDF, choosing rows by their values, and splits a long list
into parts for several machines.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Packaging (and installing) takes the programs as they are built instead of building every
# target first: scripts/package builds before it packs, and the packaging test must not
# rebuild the tree it runs in.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${INKHAVEN_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${INKHAVEN_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries come from dpkg-shlibdeps. The UNO runtime lives in the office's
# program folder, no system library folder: dpkg-shlibdeps finds it through the executable's
# run path, and naming the folder keeps it found should the run path change.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${LIBREOFFICE_PROGRAM_DIR})
# What runs beside the program without being linked: the office it starts, the sandbox it
# starts the office in, Qt's X11 platform plugin (only recommended by Qt's own library), the
# letter's fonts, and the icon theme whose folders hold the program's icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libreoffice-writer-nogui | libreoffice-writer, bubblewrap, qt6-qpa-plugins, fonts-liberation2, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)

# The package's check with this tree's versions: the package test runs it, and so does
# scripts/package before it makes a package to hand out.
file(WRITE ${CMAKE_BINARY_DIR}/check-package.sh
  "exec '${PROJECT_SOURCE_DIR}/tests/package/check-package' '${CMAKE_BINARY_DIR}' ${PROJECT_VERSION} "
  "${PROJECT_VERSION}-${INKHAVEN_PACKAGE_REVISION} ${INKHAVEN_APPSTREAM_ID}\n")
