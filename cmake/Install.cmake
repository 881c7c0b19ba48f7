# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it
# (scripts/package). The programs look for their data in ../share/handview from their own place.
include(GNUInstallDirs)
set(data ${CMAKE_INSTALL_DATADIR}/handview)

install(TARGETS handview handview-camera RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY shaders/ DESTINATION ${data}/shaders)
install(FILES obj/shapes.obj obj/shapes.mtl DESTINATION ${data}/obj)
install(FILES tracker/sessions/fly.txt tracker/sessions/point.txt tracker/README-format.md DESTINATION ${data}/sessions)
install(FILES tracker/recordings/hand-splay.jsonl tracker/recordings/pinch.jsonl tracker/recordings/README.md
        DESTINATION ${data}/recordings)
# The hand models, with their licence and origin.
install(DIRECTORY webcam/models/ DESTINATION ${data}/models
        FILES_MATCHING PATTERN "*.tflite" PATTERN "LICENSE*" PATTERN "README*")
install(FILES packaging/handview.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/handview.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(png IN LISTS HANDVIEW_ICONS)  # the PNG sizes, drawn from the SVG
  file(RELATIVE_PATH size ${CMAKE_BINARY_DIR}/icons ${png})
  get_filename_component(size ${size} DIRECTORY)
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size})
endforeach()
install(FILES packaging/handview-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME handview.xml)
foreach(program handview handview-camera)
  install(FILES packaging/handview.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

# The build's date is its source's: the last commit's (or SOURCE_DATE_EPOCH's), so that two builds of
# one commit are the same to the byte.
set(HANDVIEW_COMMIT "")
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct\ %h OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit)
    separate_arguments(commit UNIX_COMMAND "${commit}")
    list(GET commit 0 epoch)
    list(GET commit 1 HANDVIEW_COMMIT)
  else()
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})  # string(TIMESTAMP) reads it
endif()
string(TIMESTAMP HANDVIEW_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP HANDVIEW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(HANDVIEW_BUILT_FROM "")
if(HANDVIEW_COMMIT)
  set(HANDVIEW_BUILT_FROM "\n  * Built from commit ${HANDVIEW_COMMIT}.")
endif()

# The software centres' entry: the desktop entry's file types are the ones it provides.
file(STRINGS packaging/handview.desktop mime_line REGEX "^MimeType=")
string(REGEX REPLACE "^MimeType=|;$" "" mime_types "${mime_line}")
set(HANDVIEW_MEDIATYPES "")
foreach(type IN LISTS mime_types)
  string(APPEND HANDVIEW_MEDIATYPES "\n    <mediatype>${type}</mediatype>")
endforeach()
set(metainfo example.c_seed_4793e509.handview.metainfo.xml)
configure_file(packaging/handview.metainfo.xml.in ${CMAKE_BINARY_DIR}/${metainfo} @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_CONTACT "Seed 4793e509 maintainers <maintainers@users.noreply.c-seed-4793e509.example>")
# Manual pages and the changelog take the project's version, and go compressed as man and Debian
# read them.
set(compressed)
foreach(file docs/man/handview.1 docs/man/handview-camera.1 packaging/changelog)
  get_filename_component(name ${file} NAME)
  configure_file(${file}.in ${CMAKE_BINARY_DIR}/${name} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
                     COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/${name}
                     DEPENDS ${CMAKE_BINARY_DIR}/${name} VERBATIM)
  list(APPEND compressed ${CMAKE_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(handview_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/handview.1.gz ${CMAKE_BINARY_DIR}/handview-camera.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The overlay's font, which no library's dependencies bring (dpkg-shlibdeps adds SDL_ttf and fontconfig).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack indents the lines after the summary; an empty line parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "hand-tracked 3D model viewer
handview shows a 3D model (glTF, OBJ, STL, PLY, COLLADA, FBX, 3DS, 3MF, X3D,
IFC and every other format Assimp imports) fitted into view, lit by one
point light, and lets a hand steer it: three or more fingers fly and turn the
camera, one or two move the light. It reads a hand-tracking controller's
service, replays recorded hand sessions, or takes the hand from a webcam
(handview --webcam), showing the hand's state in a corner of the view.

handview-camera turns a webcam, a video or an image sequence into such a
hand-tracking service, finding the hand with two small neural networks.")
include(CPack)
