# The Debian package: tidewell_<version>_<arch>.deb with both programs
# (stripped), their data files, manual pages and shell completion. Its
# dependencies are computed from the binaries, plus the programs and data
# Tidewell calls or loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewell)
set(CPACK_PACKAGE_VENDOR Merovex)
set(CPACK_PACKAGE_CONTACT "Merovex <support@${TIDEWELL_VENDOR_HOST}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capture and browse the HTTP traffic of your programs")
set(CPACK_PACKAGE_DESCRIPTION
  "Tidewell runs a local proxy, points the desktop's proxy settings at it while\n"
  "capturing, relays every exchange to its origin and records it byte for byte.\n"
  "The captures are browsed, inspected and exported in a desktop program;\n"
  "tidewell-capture captures from a terminal.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://${TIDEWELL_VENDOR_HOST}/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# certutil for browser trust, the GNOME proxy schemas, the toolkit's Chinese
# texts, a CJK font and the toolkit's display plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libnss3-tools, gsettings-desktop-schemas, qt6-translations-l10n, fonts-noto-cjk, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libglib2.0-bin, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr")
include(CPack)
