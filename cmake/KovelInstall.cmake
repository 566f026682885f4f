# What `cmake --install` adds around the bundle (each program's CMakeLists
# installs its own part of it), and the Debian package made from it.
#
# Components: "programs" (both programs, the agent, launchers, icons, docs)
# and "demo" (the demo brain and the sample setup script).

set(kovel_data "${PROJECT_SOURCE_DIR}/data")
set(kovel_generated "${CMAKE_BINARY_DIR}/install-data")
file(MAKE_DIRECTORY "${kovel_generated}")

# bin/kovel and bin/kovelbar: relative links into the bundle, so the tree
# can be moved (DESTDIR, --prefix) as a whole.
foreach(pair "kovel;${KOVEL_INSTALL_BUNDLE}/Contents/MacOS/Kovel"
             "kovelbar;${KOVELBAR_INSTALL_BUNDLE}/Contents/MacOS/KovelBar")
  list(GET pair 0 link)
  list(GET pair 1 target)
  if(IS_ABSOLUTE "${target}")
    set(full_target "${target}")
  else()
    set(full_target "${CMAKE_INSTALL_PREFIX}/${target}")
  endif()
  file(RELATIVE_PATH relative "${CMAKE_INSTALL_FULL_BINDIR}" "${full_target}")
  file(MAKE_DIRECTORY "${kovel_generated}/bin")
  file(CREATE_LINK "${relative}" "${kovel_generated}/bin/${link}" SYMBOLIC)
  install(FILES "${kovel_generated}/bin/${link}" DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT programs)
endforeach()

if(NOT APPLE)
  install(FILES "${kovel_data}/io.kovel.KovelBar.desktop" "${kovel_data}/io.kovel.Kovel.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT programs)
  install(FILES "${kovel_data}/io.kovel.KovelBar.svg" "${kovel_data}/io.kovel.Kovel.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps" COMPONENT programs)
  configure_file("${kovel_data}/io.kovel.KovelBar.metainfo.xml.in"
    "${kovel_generated}/io.kovel.KovelBar.metainfo.xml" @ONLY)
  install(FILES "${kovel_generated}/io.kovel.KovelBar.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT programs)

  # Manual pages and the package's changelog, compressed as Debian keeps them
  # (no name or time stamp in the gzip header, so builds are reproducible).
  find_program(KOVEL_GZIP gzip REQUIRED)
  configure_file("${kovel_data}/changelog.in" "${kovel_generated}/changelog" @ONLY)
  configure_file("${kovel_data}/kovel.1" "${kovel_generated}/kovel.1" COPYONLY)
  configure_file("${kovel_data}/kovelbar.1" "${kovel_generated}/kovelbar.1" COPYONLY)
  set(compressed)
  foreach(name kovel.1 kovelbar.1 changelog)
    add_custom_command(OUTPUT "${kovel_generated}/${name}.gz"
      COMMAND "${KOVEL_GZIP}" -9nkf "${kovel_generated}/${name}"
      DEPENDS "${kovel_generated}/${name}"
      VERBATIM)
    list(APPEND compressed "${kovel_generated}/${name}.gz")
  endforeach()
  add_custom_target(kovel-install-data ALL DEPENDS ${compressed})
  install(FILES "${kovel_generated}/kovel.1.gz" "${kovel_generated}/kovelbar.1.gz"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT programs)
  # Named after the package, as Debian expects (not CMAKE_INSTALL_DOCDIR's "Kovel").
  install(FILES "${kovel_data}/copyright" "${kovel_generated}/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/kovel" COMPONENT programs)
endif()

# cpack -G DEB (from the build folder). The package must put the bundle where
# the installer recognises its packaged copy, which is fixed when it is
# compiled: configure with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package does).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kovel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kovel")
set(CPACK_PACKAGE_CONTACT "Kovel developers <dev@kovel.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "개인 기억 브레인의 트레이 앱 KovelBar와 설치 프로그램 Kovel")
set(CPACK_PACKAGE_DESCRIPTION
  "KovelBar는 트레이의 작은 패널에서 브레인에게 질문하고, 열린 일과 오늘 브리핑을\n"
  "보여 줘요. Kovel은 이 컴퓨터를 브레인 서버, 센서 또는 둘 다로 설정하고\n"
  "KovelBar를 로그인 항목으로 등록해요. 예시 브레인과 예시 설정 스크립트가 함께 들어 있어요.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_KOVEL_CONFIGURED_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/KovelCPackChecks.cmake")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Korean text, the browser for the dashboard, Wayland sessions, the AI tools' connect script.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, xdg-utils, qt6-wayland, curl")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-noto-color-emoji")
include(CPack)
