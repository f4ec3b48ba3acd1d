# What `cmake --install` puts in place, and the Debian package made of it
# (`make package`).
include(GNUInstallDirs)

set(QM_INSTALLED quillmere-headless quillmere-sandbox)
if(TARGET quillmere)
  list(APPEND QM_INSTALLED quillmere)
endif()
install(TARGETS ${QM_INSTALLED} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET quillmere)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillmere.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${QM_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
endif()

# The unit names the runner by the prefix of this installation, which is only
# known when installing (a package installs under its own prefix).
set(QM_UNIT ${CMAKE_BINARY_DIR}/packaging/quillmere-headless@.service)
install(CODE "
  set(QM_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/quillmere-headless@.service.in\" \"${QM_UNIT}\" @ONLY)
")
install(FILES ${QM_UNIT} DESTINATION lib/systemd/user)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)

# Debian wants the changelog and the manual pages compressed at the highest
# level and without a time stamp (gzip -9n), so that a rebuild gives the same bytes.
set(QM_MAN_PAGES quillmere-headless quillmere-sandbox)
if(TARGET quillmere)
  list(APPEND QM_MAN_PAGES quillmere)
endif()
set(QM_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
set(QM_GZIPPED)
foreach(source IN ITEMS debian/changelog LISTS QM_MAN_PAGES)
  if(source STREQUAL "debian/changelog")
    set(gz ${QM_PACKAGING_DIR}/changelog.gz)
  else()
    set(gz ${QM_PACKAGING_DIR}/${source}.1.gz)
    set(source man/${source}.1)
  endif()
  add_custom_command(OUTPUT ${gz}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_SOURCE_DIR}/packaging/${source} ${gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source} VERBATIM)
  list(APPEND QM_GZIPPED ${gz})
endforeach()
add_custom_target(quillmere-packaging-docs ALL DEPENDS ${QM_GZIPPED})
install(FILES ${QM_PACKAGING_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)
foreach(page IN LISTS QM_MAN_PAGES)
  install(FILES ${QM_PACKAGING_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The software centres' entry of the desktop program. Its id is for good;
# the home page (and the screenshot there, the README's picture) is set
# where the project is published.
set(QM_APPSTREAM_ID org.quillmere.Quillmere)
set(QM_HOMEPAGE "https://quillmere.invalid" CACHE STRING "the project's home page, for the AppStream metadata")
if(TARGET quillmere)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/quillmere.metainfo.xml.in
                 ${QM_PACKAGING_DIR}/${QM_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${QM_PACKAGING_DIR}/${QM_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "Quillmere")
set(CPACK_PACKAGE_CONTACT "Quillmere maintainers <maintainers@quillmere.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rates Taobao buyers before the seller's rating deadline")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmere fetches the finished trades that wait for the seller's rating\n"
    "through the marketplace's open platform, keeps them in a per-seller SQLite\n"
    "database, rates them good before the fifteen-day deadline and lets the\n"
    "seller answer buyer-rated orders by hand. It comes with a runner without\n"
    "windows (quillmere-headless, also a systemd user service) and a stand-in\n"
    "marketplace to try it on (quillmere-sandbox).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The dependencies come from the libraries the programs link (dpkg-shlibdeps;
# Debian's web engine library brings its helper process along). The Chinese
# texts want a CJK font, and Qt's own boxes (确定/取消) its Chinese translations,
# which no library links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET quillmere)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
endif()
include(CPack)
