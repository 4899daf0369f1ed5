# `make package` (cpack in a build tree): one Debian package with everything
# that `cmake --install` installs, its Depends computed from the binaries.
set(KIV_PACKAGE_MAINTAINER "kivplay developers <kivplay@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivplay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree; the package carries stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for KIV animations")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kivplay plays KIV animations: pre-rendered sequences of 8-bit palettised
frames, run-length compressed in one file with a background picture and the
playback settings. Opening a .kiv file in a file manager plays it in a
window, with a status line in the player's own bitmap font; the keyboard
pauses, steps frame by frame and switches the background layer.
.
kivtool, the companion command-line tool, inspects and checks KIV files,
exports their frames as PNG pictures, animated GIF or raw video for ffmpeg,
renders the player's screens, creates animations from pictures and makes
the thumbnails that file managers show.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KIV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The file-type, desktop and icon caches are refreshed by the triggers of
# shared-mime-info, desktop-file-utils and the icon theme; no maintainer
# scripts are needed.
#
# lintian reports no errors and no warnings. It leaves one note (I:):
# binary-has-unneeded-section .comment, the compiler's version string, which
# CPack's strip keeps; it costs a few hundred bytes and nothing else.

include(CPack)
