# The service unit that runs the daemon as root, with the first-boot step
# before it.
install(FILES ${CMAKE_SOURCE_DIR}/data/tavix-installer-daemon.service
        DESTINATION lib/systemd/system)
