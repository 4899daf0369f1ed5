# What `cmake --install` puts where: the two programs, their manual pages, the
# desktop integration (desktop entry, file type, icons, thumbnailer), the bash
# completion of kivtool and the two files a Debian package must carry in its
# documentation folder. Nothing that only tests need.
include(GNUInstallDirs)

set(kiv_data ${PROJECT_SOURCE_DIR}/data)
set(kiv_generated ${PROJECT_BINARY_DIR}/install)

foreach(program IN ITEMS kivplay kivtool)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Manual pages and the changelog are installed compressed, as Debian wants
# them; -n leaves the name and time out, so the bytes depend on the text only.
set(kiv_compressed)
foreach(source IN ITEMS man/kivplay.1 man/kivtool.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${kiv_generated}/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kiv_generated}
    COMMAND gzip -9nc ${kiv_data}/${source} > ${output}
    DEPENDS ${kiv_data}/${source}
    VERBATIM)
  list(APPEND kiv_compressed ${output})
endforeach()
add_custom_target(kiv_install_files ALL DEPENDS ${kiv_compressed})

install(FILES ${kiv_generated}/kivplay.1.gz ${kiv_generated}/kivtool.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${kiv_data}/packaging/copyright ${kiv_generated}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(FILES ${kiv_data}/desktop/kivplay.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kiv_data}/desktop/kivplay.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${kiv_data}/desktop/kivplay.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${kiv_data}/completion/kivtool
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(kiv_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${kiv_data}/icons/kivplay.svg DESTINATION ${kiv_icons}/scalable/apps)
file(GLOB kiv_icon_pngs CONFIGURE_DEPENDS ${kiv_data}/icons/png/kivplay-*.png)
foreach(png IN LISTS kiv_icon_pngs)
  string(REGEX REPLACE ".*kivplay-([0-9]+)\\.png$" "\\1" size ${png})
  install(FILES ${png} DESTINATION ${kiv_icons}/${size}x${size}/apps RENAME kivplay.png)
endforeach()
