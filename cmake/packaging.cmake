# Installation (`cmake --install`) and the Debian package (`cpack -G DEB`) of
# the POSIX build: the `pellory` and `pellory-addressbook` programs, the
# stand-in ODBC driver with its driver-list entry, the sample address book,
# the systemd unit of `pellory serve` and man pages made from `--help`.
include(GNUInstallDirs)

set(PELLORY_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/pellory)
set(PELLORY_DATA_DIR ${CMAKE_INSTALL_DATADIR}/pellory)

install(TARGETS pellory pellory-addressbook RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS maxodbc LIBRARY DESTINATION ${PELLORY_DRIVER_DIR} NAMELINK_SKIP)
install(FILES ${CMAKE_BINARY_DIR}/sample/mxza.max DESTINATION ${PELLORY_DATA_DIR}/sample)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pellory.service DESTINATION lib/systemd/system)

# The driver-list entry the package's install step hands to odbcinst,
# written at install time so that it names the driver where it was put.
install(CODE "
  set(driver \"\${CMAKE_INSTALL_PREFIX}/${PELLORY_DRIVER_DIR}/$<TARGET_FILE_NAME:maxodbc>\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PELLORY_DATA_DIR}/odbcinst-maxodbc.ini\"
\"[Maximizer ODBC Driver]
Description = Pellory stand-in for the Maximizer ODBC driver
Driver = \${driver}
Setup = \${driver}
\")")

# Man pages from each program's --help (help2man), when help2man is there.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_dir ${CMAKE_BINARY_DIR}/man)
  set(pages)
  set(summary_pellory "look contacts up in the Maximizer CRM by number, words or identifier")
  set(summary_pellory-addressbook "make address books for the stand-in Maximizer ODBC driver")
  foreach(program pellory pellory-addressbook)
    set(page ${man_dir}/${program}.1)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --output=${page}
              "--name=${summary_${program}}" $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Writing the man page of ${program}")
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellory)
set(CPACK_PACKAGE_VENDOR "Pellory")
set(CPACK_PACKAGE_CONTACT "Pellory developers <pellory@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Contact look-up for telephony hosts and phone systems")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the contact behind a caller's number in the Maximizer CRM, from the command line or as a caller-name web service (pellory serve).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbcinst, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
