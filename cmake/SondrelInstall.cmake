# Installing Sondrel (GNUInstallDirs) and its Debian package (CPack). Included last by
# the top-level CMakeLists.txt, once every program and module target exists.
include(GNUInstallDirs)

set(SONDREL_APP_ID org.sondrel.Sondrel)
set(SONDREL_HOMEPAGE "https://sondrel.example.org/")
set(SONDREL_MAINTAINER "The Sondrel developers <maintainers@sondrel.example.org>")
set(SONDREL_PROGRAMS sondrel sondrel-play sondrel-stream sondrel-service)
set(data ${PROJECT_SOURCE_DIR}/data)
set(built ${PROJECT_BINARY_DIR}/data)

# Every command answers --version with the project's version.
foreach(program ${SONDREL_PROGRAMS})
    target_compile_definitions(${program} PRIVATE SONDREL_VERSION="${PROJECT_VERSION}")
endforeach()

install(TARGETS ${SONDREL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The modules go where an installed program looks for them, ../lib/sondrel from its own
# folder (platform/Modules.cpp): a private folder, not the multiarch library folder.
install(TARGETS sondrel-webengine sondrel-pulse-output
        LIBRARY DESTINATION lib/sondrel
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${data}/${SONDREL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/${SONDREL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data}/icons/${SONDREL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The icon's bitmap sizes are drawn from the SVG at build time; manual pages and the
# changelog are installed compressed, as Debian has them.
find_program(SONDREL_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(SONDREL_GZIP gzip REQUIRED)
set(data_outputs)
foreach(size 16 22 24 32 48 64 128 256 512)
    set(png ${built}/icons/${size}x${size}/${SONDREL_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${built}/icons/${size}x${size}
        COMMAND ${SONDREL_RSVG_CONVERT} -w ${size} -h ${size}
                ${data}/icons/${SONDREL_APP_ID}.svg -o ${png}
        DEPENDS ${data}/icons/${SONDREL_APP_ID}.svg
        COMMENT "Drawing the ${size}x${size} icon" VERBATIM)
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    list(APPEND data_outputs ${png})
endforeach()

function(sondrel_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${built}
        COMMAND sh -c "'${SONDREL_GZIP}' -9 -n -c '${source}' > '${output}'"
        DEPENDS ${source} VERBATIM)
endfunction()
foreach(program ${SONDREL_PROGRAMS})
    sondrel_gzip(${data}/man/${program}.1 ${built}/${program}.1.gz)
    install(FILES ${built}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND data_outputs ${built}/${program}.1.gz)
endforeach()
sondrel_gzip(${data}/changelog ${built}/changelog.gz)
list(APPEND data_outputs ${built}/changelog.gz)
install(FILES ${built}/changelog.gz ${data}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sondrel)
add_custom_target(sondrel-data ALL DEPENDS ${data_outputs})

# The Debian package: sondrel_<version>_amd64.deb, its dependencies found by
# dpkg-shlibdeps from the programs and modules. `cpack` in the build folder makes it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sondrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Sondrel developers")
set(CPACK_PACKAGE_CONTACT ${SONDREL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music player for the songs you keep on a music service")
set(CPACK_PACKAGE_DESCRIPTION
    "Sondrel plays the song collection you keep on a web music service: sign\n"
    "in once on the service's own page inside the player, then browse or\n"
    "search your songs and play them with shuffle and single-song repeat.\n"
    "The media keys work from any application, and each new song raises a\n"
    "desktop notification.\n"
    "The bundled sondrel-service serves a folder of your own MP3 files to\n"
    "the player.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SONDREL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SONDREL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
