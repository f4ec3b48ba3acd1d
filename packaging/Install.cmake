# What `cmake --install` puts in place, and the two Debian packages made of
# it (`make package`): the seller's programs in `quillmere` (component
# "seller"), the stand-in marketplace in `quillmere-sandbox` (component
# "sandbox"), a developer's and a trial's tool that a seller's machine does
# not need.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME seller)

set(QM_INSTALLED quillmere-headless)
if(TARGET quillmere)
  list(APPEND QM_INSTALLED quillmere)
endif()
install(TARGETS ${QM_INSTALLED} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT seller)
install(TARGETS quillmere-sandbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sandbox)

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
# The sellers' README in Chinese beside the developers' one, with the pictures
# both show (they refer to docs/NAME.png) and the Windows notes the English one links.
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/README.zh_CN.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmere/docs
        FILES_MATCHING PATTERN "*.png" PATTERN "*.md")
# Each package carries the copyright file and the changelog in its own
# documentation directory (Debian's policy; lintian checks both).
foreach(package IN ITEMS quillmere quillmere-sandbox)
  if(package STREQUAL "quillmere")
    set(component seller)
    set(copyright copyright)
  else()
    set(component sandbox)
    set(copyright sandbox.copyright)
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/${copyright} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          RENAME copyright COMPONENT ${component})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endforeach()

# Debian wants the changelog and the manual pages compressed at the highest
# level and without a time stamp (gzip -9n), so that a rebuild gives the same bytes.
# Pages in Chinese are in man/zh_CN and go to the zh_CN section of the tree.
set(QM_MAN_PAGES quillmere-headless quillmere-sandbox zh_CN/quillmere-headless)
if(TARGET quillmere)
  list(APPEND QM_MAN_PAGES quillmere zh_CN/quillmere)
endif()
set(QM_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
set(QM_GZIPPED)
file(MAKE_DIRECTORY ${QM_PACKAGING_DIR}/man/zh_CN)
foreach(source IN ITEMS debian/changelog LISTS QM_MAN_PAGES)
  if(source STREQUAL "debian/changelog")
    set(gz ${QM_PACKAGING_DIR}/changelog.gz)
  else()
    set(gz ${QM_PACKAGING_DIR}/man/${source}.1.gz)
    set(source man/${source}.1)
  endif()
  add_custom_command(OUTPUT ${gz}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_SOURCE_DIR}/packaging/${source} ${gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source} VERBATIM)
  list(APPEND QM_GZIPPED ${gz})
endforeach()
add_custom_target(quillmere-packaging-docs ALL DEPENDS ${QM_GZIPPED})
foreach(page IN LISTS QM_MAN_PAGES)
  if(page STREQUAL "quillmere-sandbox")
    set(component sandbox)
  else()
    set(component seller)
  endif()
  set(section ${CMAKE_INSTALL_MANDIR}/man1)
  if(page MATCHES "^(.+)/")
    set(section ${CMAKE_INSTALL_MANDIR}/${CMAKE_MATCH_1}/man1)
  endif()
  install(FILES ${QM_PACKAGING_DIR}/man/${page}.1.gz DESTINATION ${section} COMPONENT ${component})
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
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL seller sandbox)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "Quillmere")
set(CPACK_PACKAGE_CONTACT "Quillmere maintainers <maintainers@quillmere.invalid>")
# Each package's description starts with its own summary line (a summary
# common to both would be put before each).
set(CPACK_DEBIAN_SELLER_DESCRIPTION
    "rates Taobao buyers before the seller's rating deadline\n"
    "Quillmere fetches the finished trades that wait for the seller's rating\n"
    "through the marketplace's open platform, keeps them in a per-seller SQLite\n"
    "database, rates them good before the fifteen-day deadline and lets the\n"
    "seller answer buyer-rated orders by hand. It comes with a runner without\n"
    "windows (quillmere-headless, also a systemd user service). The stand-in\n"
    "marketplace to try it on is the package quillmere-sandbox.")
string(REPLACE ";" "" CPACK_DEBIAN_SELLER_DESCRIPTION "${CPACK_DEBIAN_SELLER_DESCRIPTION}")
set(CPACK_DEBIAN_SELLER_PACKAGE_NAME quillmere)
set(CPACK_DEBIAN_SANDBOX_PACKAGE_NAME quillmere-sandbox)
set(CPACK_DEBIAN_SANDBOX_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SANDBOX_DESCRIPTION
    "stand-in Taobao open platform to try Quillmere on\n"
    "quillmere-sandbox answers, on one loopback port, every platform operation\n"
    "that Quillmere uses: the signed gateway methods, the test tool's rating\n"
    "form, the OAuth login and consent pages and the seller's rating page. It\n"
    "holds a seeded marketplace of sellers, buyers and trades in memory, writes\n"
    "its demo seller into a Config.ini and has an admin interface that lets\n"
    "buyers rate and injects latency and faults. It is for trying the programs\n"
    "and for their developers, not for a seller's machine.")
string(REPLACE ";" "" CPACK_DEBIAN_SANDBOX_DESCRIPTION "${CPACK_DEBIAN_SANDBOX_DESCRIPTION}")
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
  set(CPACK_DEBIAN_SELLER_PACKAGE_DEPENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_SELLER_PACKAGE_RECOMMENDS "fonts-noto-cjk")
endif()
set(CPACK_DEBIAN_SELLER_PACKAGE_SUGGESTS "quillmere-sandbox")
include(CPack)
