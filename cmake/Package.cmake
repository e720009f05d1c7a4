# Where the program's files go when installed, and the Debian package made of them (CPack, DEB). The
# rules use paths relative to the prefix, so `cpack` in any build folder packages that build for /usr,
# and `cmake --install` places the same tree under another prefix.
set(ZYR_APP_ID com.example.dorvanek.zyrdenetleyici)
set(ZYR_PACKAGE_NAME zyrdenetleyici)
set(ZYR_PACKAGE_PREFIX /usr)
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(ZYR_INSTALL_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/${ZYR_PACKAGE_NAME})
else()
    set(ZYR_INSTALL_PRIVATE_LIBDIR lib/${ZYR_PACKAGE_NAME})
endif()

# The device-list library is private to the program: found through a folder named relative to the
# program's own, so the installed tree works wherever it is unpacked.
target_compile_definitions(zyr_probe PRIVATE ZYR_PRIVATE_LIBDIR="../${ZYR_INSTALL_PRIVATE_LIBDIR}")

# The program knows it runs installed when it is the file at the path the package gives it; it then keeps
# its files in the user's XDG folders.
if(TARGET zyr_platform)
    target_compile_definitions(zyr_platform PRIVATE ZYR_INSTALLED_PROGRAM="${ZYR_PACKAGE_PREFIX}/bin/ZYRdenetleyici")
endif()

if(NOT TARGET ZYRdenetleyici)
    return()
endif()

set(ZYR_RES ${PROJECT_SOURCE_DIR}/resources)

# The package's version lives in the project, its changelog and its AppStream release; they must agree.
file(STRINGS ${ZYR_RES}/debian/changelog ZYR_CHANGELOG_HEAD LIMIT_COUNT 1)
file(READ ${ZYR_RES}/desktop/${ZYR_APP_ID}.metainfo.xml ZYR_METAINFO)
if(NOT ZYR_CHANGELOG_HEAD MATCHES "^${ZYR_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) "
   OR NOT ZYR_METAINFO MATCHES "<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "resources/debian/changelog and the metainfo's first release must name version ${PROJECT_VERSION}")
endif()

install(TARGETS ZYRdenetleyici RUNTIME DESTINATION bin)
# Loaded with dlopen, never run: no execute bit.
install(TARGETS ZyrPlus LIBRARY DESTINATION ${ZYR_INSTALL_PRIVATE_LIBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The headless probe (monitoring plugin and exporter): its program, a manual page (every program in /usr/bin
# needs one, installed below), and its systemd unit and targets file as examples: the exporter is not
# started on every machine the console is installed on.
install(TARGETS zyrcheck RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/src/zyrcheck/zyrcheck.service ${PROJECT_SOURCE_DIR}/src/zyrcheck/targets.example
        DESTINATION share/doc/${ZYR_PACKAGE_NAME}/examples)

# Manual pages and the changelog are installed compressed, as Debian wants them.
set(ZYR_COMPRESSED)
foreach(file IN ITEMS man/ZYRdenetleyici.1 man/zyrcheck.1 debian/changelog)
    get_filename_component(name ${file} NAME)
    set(out ${CMAKE_BINARY_DIR}/package/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
        COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${ZYR_RES}/${file} ${out}
        DEPENDS ${ZYR_RES}/${file} VERBATIM)
    list(APPEND ZYR_COMPRESSED ${out})
endforeach()
add_custom_target(zyr_package_files ALL DEPENDS ${ZYR_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/package/ZYRdenetleyici.1.gz ${CMAKE_BINARY_DIR}/package/zyrcheck.1.gz
        DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/package/changelog.gz ${ZYR_RES}/debian/copyright
        DESTINATION share/doc/${ZYR_PACKAGE_NAME})

# Lintian takes a binary with no checked libc call that it counts for one built without fortify; ours are
# built with it (the package test shows it). The reasons stand in the overrides file.
string(REGEX REPLACE "^/" "" ZYR_PACKAGE_ROOT ${ZYR_PACKAGE_PREFIX})
file(WRITE ${CMAKE_BINARY_DIR}/package/lintian-overrides
"# Built with _FORTIFY_SOURCE (its checked memcpy and memset show it, which lintian does not count); its
# other fortifiable calls have their bounds proven when compiled, or receive into a buffer whose size the
# compiler cannot know.
${ZYR_PACKAGE_NAME}: hardening-no-fortify-functions [${ZYR_PACKAGE_ROOT}/bin/ZYRdenetleyici]
# Built with _FORTIFY_SOURCE; its only fortifiable calls poll one descriptor (bounds proven when compiled)
# and receive into the caller's buffer, whose size the compiler cannot know: nothing left to check at run
# time.
${ZYR_PACKAGE_NAME}: hardening-no-fortify-functions [${ZYR_PACKAGE_ROOT}/${ZYR_INSTALL_PRIVATE_LIBDIR}/libZyrPlus.so]
")
install(FILES ${CMAKE_BINARY_DIR}/package/lintian-overrides DESTINATION share/lintian/overrides
        RENAME ${ZYR_PACKAGE_NAME} CONFIGURATIONS Release RelWithDebInfo)

install(FILES ${ZYR_RES}/desktop/${ZYR_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${ZYR_RES}/desktop/${ZYR_APP_ID}.metainfo.xml DESTINATION share/metainfo)
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    install(FILES ${ZYR_RES}/icons/app-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
            RENAME ${ZYR_APP_ID}.png)
endforeach()
install(FILES ${ZYR_RES}/icons/app.svg DESTINATION share/icons/hicolor/scalable/apps RENAME ${ZYR_APP_ID}.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZYR_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${ZYR_PACKAGE_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_CONTACT "Dorvanek <destek@dorvanek.example.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Dorvanek <destek@dorvanek.example.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.dorvanek.example.com/")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Library dependencies from dpkg-shlibdeps; the toolkit's platform plugins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console that watches remote voice-recording systems")
set(CPACK_PACKAGE_DESCRIPTION
    "ZYRdenetleyici keeps a list of voice-recording systems and probes each of
them over TCP: on command, every few minutes and once at start. It shows
whether each system answers and whether its recording devices, channels and
disks are healthy, writes every event to a log, sounds an alarm when a marked
system is down, lives in the system tray, and mails an HTML status report to
the notification addresses over SMTP with optional STARTTLS.
The program speaks Turkish.")
include(CPack)
