# The Debian package: `cpack -G DEB` in a build folder (./run package) turns the project's install
# rules into flintgate_<version>_<arch>.deb under <build>/package. The version is PROJECT_VERSION;
# the dependencies come from dpkg-shlibdeps run over the packaged programs and library.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# The maintainer named in the package and in its changelog (a placeholder address until the
# project has a public one).
set(FG_PACKAGE_MAINTAINER "The Flintgate developers <developers@flintgate.invalid>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME flintgate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Flintgate developers")
set(CPACK_PACKAGE_CONTACT ${FG_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Installed into a staging root under the prefix /usr exactly, so that install rules keyed on
# that prefix (the udev rules) pick the system folders.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FG_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "firmware updater for VANDRELL USB test instruments
Flintgate installs new firmware into VANDRELL WX2040 and WX2050 waveform
generators and the SB7300 switching box over USB. It checks the firmware
file's header, finds the instrument through VISA, switches it into its
flash-writer mode, checks the image package against the installed versions
and programs the images one by one.
.
The package holds the Qt window (flintgate), the headless flintgate-cli,
simulated instruments to try it without hardware (flintgate-sim), the VISA
library libflintgate-visa.so with its USBTMC client over libusb, and udev
rules that give the logged-in user access to the instruments.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# postinst and postrm reload the udev rules; the ldconfig trigger replaces the ldconfig calls
# CPack would otherwise write into them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
  ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
