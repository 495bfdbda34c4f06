# How the player is laid out when installed (`cmake --install`, the Debian
# package built by CPack):
#
#   bin/Dravik                     -> ../libexec/dravik/Dravik
#   bin/dravik-tool
#   libexec/dravik/Dravik          the program; beside it what it finds there:
#   libexec/dravik/INSTALLED         its settings go to ~/.config/Dravik (app/AppHome)
#   libexec/dravik/images          -> ../../share/dravik/images   (map pages)
#   libexec/dravik/Doc             -> ../../share/dravik/Doc      (the manual, F1)
#   share/dravik/images/leaflet    -> the system's Leaflet (libjs-leaflet), or a copy
#   lib[/<multiarch>]/libvoxcore.so.3.0.6, .so.3, .so; pkgconfig/voxcore.pc
#   include/voxcore.h
#   share/applications/dravik.desktop, share/mime/packages/dravik.xml,
#   share/icons/hicolor/scalable/apps/dravik.svg
#
# The language files need nothing installed: the program writes its built-in
# ones into the user's folder.
include(GNUInstallDirs)

option(DRAVIK_INSTALL_SYSTEM_LEAFLET
  "Installed map pages use the system's Leaflet (${DRAVIK_LEAFLET_DIR}) through a link instead of a copy" ON)

set(DRAVIK_PROGRAM_DIR "${CMAKE_INSTALL_LIBEXECDIR}/dravik")
set(DRAVIK_DATA_DIR "${CMAKE_INSTALL_DATADIR}/dravik")

# The manual beside the program in the build tree too, where the help button looks.
file(GLOB_RECURSE dravik_doc_files CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/Doc/*")
set(dravik_doc_stamp "${CMAKE_CURRENT_BINARY_DIR}/app/Doc.stamp")
add_custom_command(OUTPUT "${dravik_doc_stamp}"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${PROJECT_SOURCE_DIR}/Doc" "$<TARGET_FILE_DIR:Dravik>/Doc"
  COMMAND ${CMAKE_COMMAND} -E touch "${dravik_doc_stamp}"
  DEPENDS ${dravik_doc_files}
  COMMENT "User manual beside the player"
  VERBATIM)
add_custom_target(user_manual ALL DEPENDS "${dravik_doc_stamp}")
# The player without its pages shows "file not found" in its map region:
# building only the player (`--target Dravik`) builds them too.
add_dependencies(Dravik user_manual map_pages)

# --- the programs
install(TARGETS Dravik RUNTIME DESTINATION "${DRAVIK_PROGRAM_DIR}" COMPONENT player)
install(TARGETS dravik-tool RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT player)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALLED" DESTINATION "${DRAVIK_PROGRAM_DIR}" COMPONENT player)

# --- the map pages and the manual
install(DIRECTORY "${PROJECT_SOURCE_DIR}/map/pages/" DESTINATION "${DRAVIK_DATA_DIR}/images" COMPONENT player
  FILES_MATCHING PATTERN "*.html" PATTERN "*.js")
if(NOT DRAVIK_INSTALL_SYSTEM_LEAFLET)
  install(DIRECTORY "${DRAVIK_LEAFLET_DIR}/" DESTINATION "${DRAVIK_DATA_DIR}/images/leaflet" COMPONENT player
    FILES_MATCHING PATTERN "leaflet.js" PATTERN "leaflet.css" PATTERN "*.png")
endif()
install(DIRECTORY "${PROJECT_SOURCE_DIR}/Doc/" DESTINATION "${DRAVIK_DATA_DIR}/Doc" COMPONENT player)

# Links made at install time, relative within the prefix so that a DESTDIR or
# a package's staging folder keeps them right.
function(dravik_install_link link_dir name target)
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link_dir}\")
    file(MAKE_DIRECTORY \"\${dir}\")
    file(REMOVE_RECURSE \"\${dir}/${name}\")
    message(STATUS \"Link: \${dir}/${name} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${dir}/${name}\" SYMBOLIC)" COMPONENT player)
endfunction()
function(dravik_relative out from_dir to_path)
  file(RELATIVE_PATH rel "/prefix/${from_dir}" "/prefix/${to_path}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

dravik_relative(to_program "${CMAKE_INSTALL_BINDIR}" "${DRAVIK_PROGRAM_DIR}/Dravik")
dravik_install_link("${CMAKE_INSTALL_BINDIR}" Dravik "${to_program}")
dravik_relative(to_images "${DRAVIK_PROGRAM_DIR}" "${DRAVIK_DATA_DIR}/images")
dravik_install_link("${DRAVIK_PROGRAM_DIR}" images "${to_images}")
dravik_relative(to_doc "${DRAVIK_PROGRAM_DIR}" "${DRAVIK_DATA_DIR}/Doc")
dravik_install_link("${DRAVIK_PROGRAM_DIR}" Doc "${to_doc}")
if(DRAVIK_INSTALL_SYSTEM_LEAFLET)
  dravik_install_link("${DRAVIK_DATA_DIR}/images" leaflet "${DRAVIK_LEAFLET_DIR}")
endif()

# --- the desktop
install(FILES "${PROJECT_SOURCE_DIR}/packaging/dravik.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT player)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/dravik-mime.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/mime/packages" RENAME dravik.xml COMPONENT player)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/dravik.svg"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps" COMPONENT player)

# --- voxcore for other programs: the library, its header, pkg-config
get_target_property(VOXCORE_VERSION voxcore VERSION)
install(TARGETS voxcore
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT player NAMELINK_COMPONENT player)
install(FILES "${PROJECT_SOURCE_DIR}/voice/voxcore.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT player)
set(DRAVIK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(DRAVIK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(DRAVIK_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(DRAVIK_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file("${PROJECT_SOURCE_DIR}/packaging/voxcore.pc.in" "${CMAKE_CURRENT_BINARY_DIR}/voxcore.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/voxcore.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT player)

# --- the Debian package: cpack -G DEB in a tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr (scripts/package.sh).
set(CPACK_PACKAGE_NAME "dravik")
set(CPACK_PACKAGE_VENDOR "Dravik")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for the recordings of multi-channel vehicle recorders")
set(CPACK_PACKAGE_DESCRIPTION "Dravik opens a folder of vehicle-recorder recordings (.qvv, .avi, .flv, .mp4),
groups them by start time and plays every camera in step, with one channel's
sound, the vehicle on a map and the G-sensor as a waveform; it takes
snapshots, searches, backs up and exports clips. The package also holds
dravik-tool, the command-line companion, and libvoxcore, the recorders'
voice codec, with its header and pkg-config file.")
set(CPACK_PACKAGE_CONTACT "Dravik maintainers <dravik@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Shared libraries are found by dpkg-shlibdeps; these are loaded otherwise:
# Leaflet by the map pages, the Chromium helper process by Qt WebEngine, a
# font with Arial's metrics for the pictures' text.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjs-leaflet, libqt6webenginecore6-bin, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri, xdg-utils")
set(CPACK_GENERATOR "DEB")
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Install prefix ${CMAKE_INSTALL_PREFIX}: a Debian package wants -DCMAKE_INSTALL_PREFIX=/usr")
endif()
include(CPack)
