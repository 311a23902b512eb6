# The Debian package, built by CPack from an install of the project:
#   cmake --build --preset release --target package
# It is built from the release preset, whose prefix is /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brantle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane Corporation")
set(CPACK_PACKAGE_CONTACT "Orvane Corporation <brantle@orvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "I2C bus tool for USB adapters built on the EZ-USB FX2")
# Lines as dpkg shows them: at most 80 columns, a blank line between paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
"Brantle drives an I2C bus by hand from a PC. You write a short script of
hexadecimal bytes with start and stop conditions and waits; Brantle runs it
on the bus at 100 or 400 kHz through an adapter built on an EZ-USB FX2
microcontroller and shows the answer beside the script, every byte read in
the place of its token.

The package holds the window (brantle), the same window on a simulated
adapter with an EEPROM and a temperature sensor, for trying it without
hardware (brantle-sim), a command-line tool for shells and test jobs
(brantle-cli), and a udev rule that lets the user at the machine use the
adapters without root. The program loads its own firmware into the adapter:
nothing has to be flashed.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.example/brantle/")
# Dependencies come from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Under a Japanese locale: glyphs that line the two panes up, and the
# toolkit's own texts (standard buttons, file dialogs).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/postinst
  ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# DESTDIR keeps a rule folder outside the prefix (/lib/udev) inside the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
