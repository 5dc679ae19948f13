# The Windows client: its icon and version in the exe's resources, and the folder a person
# runs it from (cmake --install), which scripts/build-windows zips and wraps in an installer.
#
# The icon is drawn by a quillora-iconart built for this machine (the one of a native build):
# QUILLORA_ICONART names it; scripts/build-windows sets it.
set(QUILLORA_ICONART "" CACHE FILEPATH "A native quillora-iconart, which draws the Windows icon")
set(windows ${CMAKE_CURRENT_BINARY_DIR}/windows)
if(QUILLORA_ICONART)
  set(QUILLORA_WINDOWS_ICON ${windows}/quillora-client.ico)
  add_custom_command(OUTPUT ${QUILLORA_WINDOWS_ICON}
    COMMAND ${QUILLORA_ICONART} ${windows}/icons
    COMMAND ${CMAKE_COMMAND} -E copy ${windows}/icons/quillora-client.ico ${QUILLORA_WINDOWS_ICON}
    DEPENDS ${QUILLORA_ICONART} VERBATIM)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/windows/quillora-client.rc.in
                 ${windows}/quillora-client.rc @ONLY)
  add_custom_target(quillora-windows-icon DEPENDS ${QUILLORA_WINDOWS_ICON})
  set_source_files_properties(${windows}/quillora-client.rc PROPERTIES
                              OBJECT_DEPENDS ${QUILLORA_WINDOWS_ICON})
  target_sources(quillora-client PRIVATE ${windows}/quillora-client.rc)
  add_dependencies(quillora-client quillora-windows-icon)
else()
  message(WARNING "QUILLORA_ICONART is not set: the client is built without its icon")
endif()
# A windowed program: no console opens beside it.
set_target_properties(quillora-client PROPERTIES WIN32_EXECUTABLE ON)

# The folder: the exe, the Qt libraries and plugins it loads, the compiler's runtime, and a
# qt.conf that tells Qt its plugins are beside the exe.
set(qt ${QT6_INSTALL_PREFIX})
install(TARGETS quillora-client RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/qt.conf DESTINATION .)
foreach(module Core Gui Widgets Network)
  install(FILES ${qt}/bin/Qt6${module}.dll DESTINATION .)
endforeach()
foreach(plugin platforms/qwindows styles/qwindowsvistastyle tls/qschannelbackend
               imageformats/qico)
  get_filename_component(folder ${plugin} DIRECTORY)
  install(FILES ${qt}/plugins/${plugin}.dll DESTINATION ${folder})
endforeach()
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  install(FILES ${path} DESTINATION .)
endforeach()
