# Install layout for `cmake --install` and the Debian packages: the tool and
# the test server in bin, the desktop entry, AppStream metainfo, icons and man
# pages under share. Components let a packager split the two programs.
include(GNUInstallDirs)

set(DV_APP_ID org.dorvane.Dorvane)
set(DV_DIST_DIR ${PROJECT_SOURCE_DIR}/dist)

install(TARGETS dorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dorvane)
install(TARGETS dorvane-testserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT testserver)

install(FILES ${DV_DIST_DIR}/${DV_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT dorvane)
install(FILES ${DV_DIST_DIR}/${DV_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT dorvane)
install(FILES ${DV_DIST_DIR}/dorvane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT dorvane)
install(FILES ${DV_DIST_DIR}/dorvane.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dorvane)
install(FILES ${DV_DIST_DIR}/dorvane-testserver.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT testserver)

# Bitmap icons for menus that do not draw SVG, rendered from the SVG at build
# time. Without rsvg-convert they are left out unless DV_REQUIRE_PNG_ICONS is
# set (the Debian build sets it, so a package never lacks them silently).
option(DV_REQUIRE_PNG_ICONS "Fail the configure step when the PNG icons cannot be rendered" OFF)
find_program(DV_RSVG_CONVERT rsvg-convert)
if(DV_RSVG_CONVERT)
  set(DV_ICON_PNGS)
  foreach(size 48 64 128)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/dorvane.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${DV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${DV_DIST_DIR}/dorvane.svg
      DEPENDS ${DV_DIST_DIR}/dorvane.svg
      COMMENT "Rendering the ${size}x${size} icon"
      VERBATIM)
    list(APPEND DV_ICON_PNGS ${png})
    install(FILES ${png}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT dorvane)
  endforeach()
  add_custom_target(dorvane-icons ALL DEPENDS ${DV_ICON_PNGS})
elseif(DV_REQUIRE_PNG_ICONS)
  message(FATAL_ERROR "rsvg-convert (librsvg2-bin) is needed to render the PNG icons")
else()
  message(STATUS "rsvg-convert not found: the PNG icons are not built or installed")
endif()
