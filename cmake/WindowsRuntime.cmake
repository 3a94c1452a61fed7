# What the Windows programs load beside them: Qt's DLLs and plugins (platforms,
# picture formats, styles). The build copies them next to its programs and into
# the game folder; the install, which the player's package is made from, holds
# what a player needs and no more.
get_target_property(qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(qt_bin_folder "${qt_core_dll}" DIRECTORY)
get_filename_component(qt_plugin_folder "${qt_bin_folder}/../plugins" ABSOLUTE)
set(qt_player_dlls ${qt_bin_folder}/Qt5Core.dll ${qt_bin_folder}/Qt5Gui.dll ${qt_bin_folder}/Qt5Widgets.dll)
set(qt_plugin_kinds platforms imageformats styles)

# Copies the runtime into folder after target is built; with_tests adds QtTest.
function(copy_windows_runtime target folder)
    set(commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_player_dlls} ${ARGN} ${folder})
    foreach(kind IN LISTS qt_plugin_kinds)
        list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${qt_plugin_folder}/${kind} ${folder}/${kind})
    endforeach()
    add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()

install(FILES ${qt_player_dlls} DESTINATION .)
install(FILES ${qt_plugin_folder}/platforms/qwindows.dll DESTINATION platforms)
install(DIRECTORY ${qt_plugin_folder}/imageformats ${qt_plugin_folder}/styles DESTINATION .)
