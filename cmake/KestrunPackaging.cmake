# What players install: a portable bundle that updates itself where it was unpacked, and a Debian
# package below /usr/lib whose updates come through the package manager. Both hold the launcher, its
# translations (the settings are compiled in), a desktop entry and the icons; the Debian package
# adds AppStream metadata and the files Debian asks of every package.
#
#   cmake --build build --target kestrun_bundle   build/packages/kestrun-launcher-<v>-linux-x86_64.tar.gz
#   cmake --build build --target package          build/packages/kestrun-launcher_<v>_amd64.deb
#
# launcher-next and launcher-checkpoints exist for the demo and the tests; neither is installed.

set(KESTRUN_PACKAGE_NAME kestrun-launcher)
# The maker's domain reversed: the desktop entry, the icons and the AppStream id share it, and the
# launcher names it as its desktop file.
set(KESTRUN_APP_ID com.halvern.KestrunLauncher)
set(KESTRUN_HOMEPAGE https://www.kestrun-online.com/)
# The class of the launcher's windows on X11: Qt gives the application's name.
set(KESTRUN_WM_CLASS "Kestrun Online")
set(KESTRUN_PACKAGE_MAINTAINER "Halvern GmbH <launcher@halvern.com>"
    CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
# A program's own folder below /usr/lib, as Debian keeps private programs: below /opt the package
# would own /opt itself, and dpkg warns on every purge that it could not remove it.
set(KESTRUN_SYSTEM_DIRECTORY usr/lib/${KESTRUN_PACKAGE_NAME})
set(KESTRUN_BUNDLE_NAME ${KESTRUN_PACKAGE_NAME}-${KESTRUN_LAUNCHER_VERSION}-linux-x86_64)
set(KESTRUN_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(KESTRUN_BUNDLE_ARCHIVE ${KESTRUN_PACKAGE_DIRECTORY}/${KESTRUN_BUNDLE_NAME}.tar.gz)
set(KESTRUN_ICON_SIZES 16 22 24 32 48 64 128 256 512)

# Dates honour SOURCE_DATE_EPOCH, so a package made twice from one commit is the same.
string(TIMESTAMP KESTRUN_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP KESTRUN_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(packaging_source ${PROJECT_SOURCE_DIR}/packaging/linux)
set(packaging_binary ${CMAKE_BINARY_DIR}/packaging)

# The system install cannot write its folder: the player's launcher must not try to update
# itself.
set(KESTRUN_DESKTOP_EXEC "/${KESTRUN_SYSTEM_DIRECTORY}/launcher --skip-selfupdate")
configure_file(${packaging_source}/kestrun-launcher.desktop.in
               ${packaging_binary}/system/${KESTRUN_APP_ID}.desktop @ONLY)
# The bundle's entry names the launcher beside it; install-desktop-entry.sh writes its full path.
set(KESTRUN_DESKTOP_EXEC "launcher")
configure_file(${packaging_source}/kestrun-launcher.desktop.in
               ${packaging_binary}/bundle/${KESTRUN_APP_ID}.desktop @ONLY)
configure_file(${packaging_source}/metainfo.xml.in
               ${packaging_binary}/system/${KESTRUN_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging_source}/copyright.in ${packaging_binary}/system/copyright @ONLY)
configure_file(${packaging_source}/changelog.in ${packaging_binary}/system/changelog @ONLY)

# Debian wants the changelog compressed, without a time stamp in the gzip header.
find_program(KESTRUN_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${packaging_binary}/system/changelog.gz
  COMMAND ${KESTRUN_GZIP} -9nkf ${packaging_binary}/system/changelog
  DEPENDS ${packaging_binary}/system/changelog
  VERBATIM)
add_custom_target(kestrun_package_files ALL DEPENDS ${packaging_binary}/system/changelog.gz)

# Every language the launcher speaks, English with the about texts among them.
set(translation ${KESTRUN_QM_FILES})
# The bundle is staged on every build of the tests: a line per file would drown the build's output.
set(CMAKE_INSTALL_MESSAGE NEVER)
set(icons ${PROJECT_SOURCE_DIR}/resources/icons/hicolor)

# The bundle: everything in one folder, which the launcher owns and updates.
install(TARGETS launcher RUNTIME DESTINATION . COMPONENT bundle)
install(FILES ${translation} ${packaging_binary}/bundle/${KESTRUN_APP_ID}.desktop
        DESTINATION . COMPONENT bundle)
install(PROGRAMS ${packaging_source}/install-desktop-entry.sh DESTINATION . COMPONENT bundle)
install(DIRECTORY ${icons} DESTINATION icons COMPONENT bundle)

# The Debian package.
install(TARGETS launcher RUNTIME DESTINATION ${KESTRUN_SYSTEM_DIRECTORY} COMPONENT system)
install(FILES ${translation} DESTINATION ${KESTRUN_SYSTEM_DIRECTORY} COMPONENT system)
install(FILES ${packaging_binary}/system/${KESTRUN_APP_ID}.desktop
        DESTINATION usr/share/applications COMPONENT system)
install(DIRECTORY ${icons} DESTINATION usr/share/icons COMPONENT system)
install(FILES ${packaging_binary}/system/${KESTRUN_APP_ID}.metainfo.xml
        DESTINATION usr/share/metainfo COMPONENT system)
install(FILES ${packaging_binary}/system/copyright ${packaging_binary}/system/changelog.gz
        DESTINATION usr/share/doc/${KESTRUN_PACKAGE_NAME} COMPONENT system)

# The bundle is made by the build (the end-to-end tests unpack it), stripped like the package.
set(bundle_stage ${packaging_binary}/bundle-stage)
add_custom_command(
  OUTPUT ${KESTRUN_BUNDLE_ARCHIVE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle_stage}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component bundle --strip
          --prefix ${bundle_stage}/${KESTRUN_BUNDLE_NAME}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTRUN_PACKAGE_DIRECTORY}
  COMMAND ${CMAKE_COMMAND} -E chdir ${bundle_stage} ${CMAKE_COMMAND} -E tar czf
          ${KESTRUN_BUNDLE_ARCHIVE}.tmp ${KESTRUN_BUNDLE_NAME}
  COMMAND ${CMAKE_COMMAND} -E rename ${KESTRUN_BUNDLE_ARCHIVE}.tmp ${KESTRUN_BUNDLE_ARCHIVE}
  DEPENDS launcher kestrun_translations $<TARGET_FILE:launcher> ${translation}
          ${packaging_binary}/bundle/${KESTRUN_APP_ID}.desktop
          ${packaging_source}/install-desktop-entry.sh
  COMMENT "Making ${KESTRUN_BUNDLE_NAME}.tar.gz"
  VERBATIM)
add_custom_target(kestrun_bundle DEPENDS ${KESTRUN_BUNDLE_ARCHIVE})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KESTRUN_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Halvern GmbH")
set(CPACK_PACKAGE_VERSION ${KESTRUN_LAUNCHER_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRUN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher of the online game Kestrun Online")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Installs, updates, repairs and starts the game client of Kestrun Online.\n"
    "Updates fetch only what changed, and every piece is verified before it is\n"
    "written. This package keeps the launcher in /usr/lib/kestrun-launcher, and the\n"
    "launcher is updated through the package manager.")
set(CPACK_PACKAGE_DIRECTORY ${KESTRUN_PACKAGE_DIRECTORY})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL system)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${KESTRUN_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KESTRUN_HOMEPAGE})
# The libraries come from dpkg-shlibdeps; the font is read at run time, so no tool can see it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
include(CPack)
