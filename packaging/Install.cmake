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
