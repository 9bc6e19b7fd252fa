# The service unit that runs the daemon as root, with the first-boot step
# before it. It names the executable where this build installs it, so the
# unit is made from the install prefix.
include(GNUInstallDirs)
set(TAVIX_INSTALLER_PATH ${CMAKE_INSTALL_FULL_BINDIR}/tavix-installer)
configure_file(${CMAKE_SOURCE_DIR}/data/tavix-installer-daemon.service.in
               ${CMAKE_BINARY_DIR}/data/tavix-installer-daemon.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/tavix-installer-daemon.service
        DESTINATION lib/systemd/system)
