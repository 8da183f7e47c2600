# The Windows executables' icon and version information. The icon is drawn from the same
# picture as the Linux menus' at build time (rsvg-convert, icotool).
set(TK_ICON ${CMAKE_BINARY_DIR}/terminal-kontrol.ico)
set(tk_icon_pngs)
foreach(size 16 24 32 48 64 256)
    set(png ${CMAKE_BINARY_DIR}/icon/${size}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icon
        COMMAND rsvg-convert -w ${size} -h ${size} -o ${png} ${PROJECT_SOURCE_DIR}/dist/terminal-kontrol.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/dist/terminal-kontrol.svg VERBATIM)
    list(APPEND tk_icon_pngs ${png})
endforeach()
add_custom_command(OUTPUT ${TK_ICON} COMMAND icotool -c -o ${TK_ICON} ${tk_icon_pngs} DEPENDS ${tk_icon_pngs} VERBATIM)
add_custom_target(tk_icon DEPENDS ${TK_ICON})

function(tk_windows_resources target description)
    set(TK_FILE_NAME ${target})
    set(TK_DESCRIPTION ${description})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${TK_ICON})
    target_sources(${target} PRIVATE ${rc})
    add_dependencies(${target} tk_icon)
endfunction()

# What the installer says of the programs, from the same sources.
file(WRITE ${CMAKE_BINARY_DIR}/installer-facts.nsh
    "!define VERSION \"${PROJECT_VERSION}\"\n!define PUBLISHER \"${TK_PUBLISHER}\"\n!define ICON \"${TK_ICON}\"\n")
