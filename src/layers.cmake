# Checks that every target of src/ stays in its layer, by what it links and by what its sources
# include. A breach stops the configuration with the target and the offending link or file.

set(UFD_CORE_TARGETS ufd_protocol ufd_serial ufd_online ufd_reports ufd_spreadsheet ufd_documents
    ufd_accounts ufd_archive ufd_context)
set(UFD_WINDOW_TARGETS ufd_windows_online ufd_windows_protocol ufd_windows_reports
    ufd_windows_serial ufd_windows_shell)

function(_ufd_refuse_links target)
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(NOT libs)
        return()
    endif()
    foreach(lib ${libs})
        foreach(bad ${ARGN})
            if(lib MATCHES "^${bad}$")
                message(FATAL_ERROR "${target} links ${lib}: that points up or across the layers "
                                    "(see src/README.md)")
            endif()
        endforeach()
    endforeach()
endfunction()

# `own`: a window folder's own name, the one window folder its sources may include from.
function(_ufd_refuse_includes target own)
    get_target_property(dir ${target} SOURCE_DIR)
    get_target_property(sources ${target} SOURCES)
    foreach(src ${sources})
        if(NOT IS_ABSOLUTE "${src}")
            set(src "${dir}/${src}")
        endif()
        if(NOT src MATCHES "\\.(cpp|h)$" OR NOT EXISTS "${src}")
            continue()
        endif()
        file(STRINGS "${src}" lines REGEX "^#include [\"<]")
        foreach(line ${lines})
            if(line MATCHES "^#include \"windows/([a-z_]+)/" AND NOT CMAKE_MATCH_1 STREQUAL own)
                message(FATAL_ERROR "${src}: ${line}: a window folder uses no other window folder "
                                    "(see src/README.md)")
            endif()
            foreach(bad ${ARGN})
                if(line MATCHES "^#include [\"<]${bad}")
                    message(FATAL_ERROR "${src}: ${line}: that points up or across the layers "
                                        "(see src/README.md)")
                endif()
            endforeach()
        endforeach()
    endforeach()
endfunction()

function(ufd_check_layers)
    foreach(t ${UFD_CORE_TARGETS})
        _ufd_refuse_links(${t} "Qt6::Widgets" "Qt6::Gui" "Qt6::Charts" "ufd_widgets"
                          "ufd_windows_.*" "ufd_app")
        _ufd_refuse_includes(${t} "" "Q[A-Za-z]*Widget" "QtWidgets" "QtCharts" "widgets/"
                             "app/")
    endforeach()
    if(NOT TARGET ufd_widgets)
        return()
    endif()
    _ufd_refuse_links(ufd_widgets "ufd_windows_.*" "ufd_app")
    _ufd_refuse_includes(ufd_widgets "" "app/")
    foreach(t ${UFD_WINDOW_TARGETS})
        set(others ${UFD_WINDOW_TARGETS})
        list(REMOVE_ITEM others ${t})
        _ufd_refuse_links(${t} "ufd_app" ${others})
        string(REPLACE "ufd_windows_" "" own ${t})
        _ufd_refuse_includes(${t} ${own} "app/")
    endforeach()
endfunction()
