# Install rules and the Debian package (cpack -G DEB, see tools/package.sh).
#
# /usr/lib/vellumark/ holds the program folder as the build lays it out beside the program:
# the program, its catalogue reader, the download engine and any runtime folder listed in
# VM_PROGRAM_FOLDER_DIRS that exists in the build. /usr/bin/vellumark copies that folder into
# the user's own program folder and starts the program there (docs/desktop.md).

set(VM_PACKAGE_NAME vellumark)
set(VM_APP_ID org.vellumark.Vellumark)
set(VM_PROGRAM_DIR lib/${VM_PACKAGE_NAME})
# Folders beside the program in the build that belong to its program folder.
set(VM_PROGRAM_FOLDER_DIRS ruffle CACHE STRING "Runtime folders beside the program to install with it")
set(VM_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VM_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

if(TARGET vellumark)
  install(TARGETS vellumark RUNTIME DESTINATION ${VM_PROGRAM_DIR})
  foreach(target vellumark-jet-reader up_exe)
    if(TARGET ${target})
      install(TARGETS ${target} RUNTIME DESTINATION ${VM_PROGRAM_DIR})
    endif()
  endforeach()
  foreach(folder IN LISTS VM_PROGRAM_FOLDER_DIRS)
    install(DIRECTORY $<TARGET_FILE_DIR:vellumark>/${folder} DESTINATION ${VM_PROGRAM_DIR}
      USE_SOURCE_PERMISSIONS OPTIONAL)
  endforeach()
endif()
# The manifest the launcher lays out the user's folder by: every file of the program folder with
# its SHA-256 sum, computed from the installed (stripped) files.
set(VM_MANIFEST_CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@VM_PROGRAM_DIR@")
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
  list(REMOVE_ITEM files program-folder.sha256)
  list(SORT files)
  set(text "")
  foreach(file IN LISTS files)
    file(SHA256 "${dir}/${file}" sum)
    string(APPEND text "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${dir}/program-folder.sha256" "${text}")
]])
string(CONFIGURE "${VM_MANIFEST_CODE}" VM_MANIFEST_CODE @ONLY)

if(TARGET vellumark-sql)
  # Its catalogue reader is itself when no reader program lies beside it.
  install(TARGETS vellumark-sql RUNTIME DESTINATION bin)
endif()

configure_file(${VM_PACKAGING_DIR}/vellumark.sh.in ${VM_PACKAGING_OUT}/vellumark @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)
configure_file(${VM_PACKAGING_DIR}/${VM_APP_ID}.metainfo.xml.in
  ${VM_PACKAGING_OUT}/${VM_APP_ID}.metainfo.xml @ONLY)
install(PROGRAMS ${VM_PACKAGING_OUT}/vellumark DESTINATION bin)
install(FILES ${VM_PACKAGING_DIR}/${VM_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${VM_PACKAGING_OUT}/${VM_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/icons/hicolor DESTINATION share/icons)

# Man pages, compressed as Debian wants them (no name or time in the gzip header).
set(VM_MAN_PAGES vellumark.1 vellumark-sql.1)
set(VM_MAN_OUTPUTS)
foreach(page IN LISTS VM_MAN_PAGES)
  add_custom_command(OUTPUT ${VM_PACKAGING_OUT}/${page}.gz
    COMMAND gzip -9n -c ${VM_PACKAGING_DIR}/${page} > ${VM_PACKAGING_OUT}/${page}.gz
    DEPENDS ${VM_PACKAGING_DIR}/${page} VERBATIM)
  list(APPEND VM_MAN_OUTPUTS ${VM_PACKAGING_OUT}/${page}.gz)
endforeach()
add_custom_target(vm_man_pages ALL DEPENDS ${VM_MAN_OUTPUTS})
install(FILES ${VM_MAN_OUTPUTS} DESTINATION share/man/man1)
# Last, after every file of the program folder is in place.
install(CODE "${VM_MANIFEST_CODE}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VM_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browse, search and fetch a forum's catalogue of source-code samples")
set(CPACK_PACKAGE_DESCRIPTION
  "Vellumark keeps a forum's catalogue of source-code samples on the user's machine and shows\n"
  "it as a category tree and pages of resources, with downloads through its own download\n"
  "engine, introductions and videos in a viewer, and updates of the catalogue, the engine and\n"
  "the program from the forum. Each user gets a program folder of their own, ~/Vellumark.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "Vellumark developers <dev@vellumark.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: libarchive, linked by the archive library the program loads
# from memory; the Chinese fonts; Qt's Chinese texts; the opener of pages and folders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libarchive13, fonts-noto-cjk, qt6-translations-l10n, xdg-utils")
# fcitx5's module for Qt 6 programs; IBus works through Qt's own plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fcitx5-frontend-qt6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-mariadb, tdsodbc, libsqliteodbc, odbc-mdbtools")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
