# Where `cmake --install` (and so the Debian package) puts the tool. The executable
# lives in a folder of its own under lib/ because it looks for its language libraries in
# the folder "Language" beside itself; bin/ holds a link to it.
include(GNUInstallDirs)

option(TALVEX_INSTALL "Install the tool with `cmake --install`" ${TALVEX_TOP_LEVEL})
if(NOT TALVEX_INSTALL)
  return()
endif()

set(TALVEX_INSTALL_TOOLDIR "lib/talvex-config" CACHE STRING
    "Folder, below the prefix, of the executable and its Language folder")

install(TARGETS talvex-config RUNTIME DESTINATION ${TALVEX_INSTALL_TOOLDIR})
# Empty: language libraries are products of their own, installed beside the tool.
install(DIRECTORY DESTINATION ${TALVEX_INSTALL_TOOLDIR}/Language)
install(CODE "
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${bin}\")
  file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
       \"\${CMAKE_INSTALL_PREFIX}/${TALVEX_INSTALL_TOOLDIR}/talvex-config\")
  message(STATUS \"Installing: \${bin}/talvex-config -> \${target}\")
  file(CREATE_LINK \"\${target}\" \"\${bin}/talvex-config\" SYMBOLIC)
")

install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/talvex-config.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../app/ui/resources/talvex-config.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/talvex-config.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
