# Installing the tool, the reader of its job records and the simulator,
# and the Debian package of them.
#
#   cmake --install build/default --prefix /usr/local   # bin/ecuprog, bin/ecuprog-records, bin/ecuprog-sim
#   cd build/default && cpack -G DEB                    # ecuprog_<version>_<arch>.deb
#
# The package declares the shared libraries the programs need (none when
# they are linked statically, as by default); dpkg-shlibdeps finds them.
include(GNUInstallDirs)

install(TARGETS ecuprog ecuprog-records ecuprog-sim
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES README.md MESSAGES.txt
  DESTINATION "${CMAKE_INSTALL_DOCDIR}")

set(CPACK_PACKAGE_NAME ecuprog)
set(CPACK_PACKAGE_VENDOR "ecuprog maintainers")
set(CPACK_PACKAGE_CONTACT "ecuprog maintainers <maintainers@users.noreply.c-seed-218206c7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Engine control unit firmware programmer and its simulated programming server")
set(CPACK_PACKAGE_DESCRIPTION
  "ecuprog programs the firmware it carries into one engine control unit through a programming server, and keeps a record of every job; ecuprog-records lists those jobs. ecuprog-sim is the simulated programming server that stands in for it on Linux, over a bench of simulated units.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ecuprog)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the package; the source tree is not packed.
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
