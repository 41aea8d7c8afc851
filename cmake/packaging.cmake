# `make package`: build/recognizer_VERSION_amd64.deb (Linux); `make windows-package`:
# build-windows/recognizer-VERSION-win64.zip. What goes in is what deploy/ installs.
set(CPACK_PACKAGE_NAME recognizer)
set(CPACK_PACKAGE_VENDOR "Recognizer developers")
set(CPACK_PACKAGE_CONTACT "Recognizer developers <team@recognizer-project.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recognises licence plates and plants in a picture")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME recognizer-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # recognizer_VERSION_amd64.deb
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
A small desktop tool with a picture box, an edit box and three buttons:\n\
it loads a picture, posts it to an image-recognition service and shows\n\
the answer. It comes with its own local recognition service over HTTPS,\n\
started on demand by a systemd user socket, so it reads licence plates\n\
with no network.")
    # Shared libraries found by dpkg-shlibdeps, and what the programs load at run time.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/deploy/debian/postinst ${PROJECT_SOURCE_DIR}/deploy/debian/prerm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
