# `cpack -G DEB` in a build folder configured with -DCMAKE_INSTALL_PREFIX=/usr
# makes plimo_<version>_<arch>.deb and plimo-server_<version>_<arch>.deb
# (scripts/packages does exactly that).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plimo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Plimo")
set(CPACK_PACKAGE_CONTACT "Plimo maintainers <maintainers@plimo.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Both packages come from this one tree, whose changelog they both carry.
set(CPACK_DEBIAN_PACKAGE_SOURCE plimo)
# Maintainer scripts 0755 and conffiles 0644, whatever the checkout's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME plimo)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION
    "remote assistance through a company's own server
Plimo lets a helper see and drive the screen of a PC that needs help, hear
its sound and chat with its person, after that person agrees. The helped PC
shows a 9-digit ID; the helper connects by that ID. PCs meet through the
company's own plimo-server and talk over a direct end-to-end encrypted path
where they can, relayed by the server where they cannot.
.
This package holds the program for both roles, with its windows on X11 and a
headless mode for unattended PCs and scripts.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME plimo-server)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "rendezvous and relay server for Plimo remote assistance
plimo-server gives Plimo clients their 9-digit IDs, introduces a helper to
the PC it connects to, and relays their end-to-end encrypted traffic when no
direct path opens. It listens on one UDP port and on TCP fallback ports for
networks that block UDP, keeps its long-term key and its SQLite database in
/var/lib/plimo-server, and stores the session reports helpers send.
.
The package runs it as a sandboxed systemd service under its own system
user; its options live in /etc/default/plimo-server.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)

include(CPack)
