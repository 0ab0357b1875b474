# Precompiled headers. Parsing the toolkits' headers (Qt, GStreamer, the test
# framework) costs several times more than compiling a source file of ours, so
# each set is parsed once: the libraries precompile their own set, and every
# test executable reuses one header of its kind built by a carrier target.

option(STIRWATCH_PCH "Precompile the toolkits' headers" ON)
if(STIRWATCH_FUZZ)
    # clang refuses a precompiled header whose flags differ in any macro; the
    # fuzz build compiles only a few files anyway.
    set(STIRWATCH_PCH OFF)
endif()

# Every file is compiled for threads (GStreamer's flags ask for it) and as
# position-independent code (Qt's flags ask for it), so that all share one set
# of settings and with it the precompiled headers.
add_compile_options(-pthread -fPIC)

set(STIRWATCH_PCH_STD <algorithm> <atomic> <chrono> <cstdint> <cstring> <functional> <memory>
    <mutex> <optional> <string> <string_view> <thread> <utility> <vector>)
# The toolkit headers most files include; whole-module headers would make the
# precompiled header several times larger and slower to load than it saves.
set(STIRWATCH_PCH_QT <QApplication> <QDir> <QElapsedTimer> <QImage> <QLabel> <QString>
    <QTemporaryDir> <QTimer>)
set(STIRWATCH_PCH_GST <gst/gst.h> <gst/app/gstappsink.h> <gst/video/video.h>)

# stirwatch_precompile(target QT|GST|QTGST): the target's own sources start
# from the precompiled standard and toolkit headers it uses.
function(stirwatch_precompile target kind)
    if(NOT STIRWATCH_PCH)
        return()
    endif()
    set(headers ${STIRWATCH_PCH_STD})
    if(kind MATCHES "QT")
        list(APPEND headers ${STIRWATCH_PCH_QT})
    endif()
    if(kind MATCHES "GST")
        list(APPEND headers ${STIRWATCH_PCH_GST})
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
    stirwatch_skip_precompiled_for_moc(${target})
endfunction()

# stirwatch_reuse_precompiled(target carrier): the target includes the header
# that the carrier precompiled. The carrier must be compiled with the same
# definitions, which the test functions see to.
function(stirwatch_reuse_precompiled target carrier)
    if(STIRWATCH_PCH)
        target_precompile_headers(${target} REUSE_FROM ${carrier})
        stirwatch_skip_precompiled_for_moc(${target})
    endif()
endfunction()

# The generated file that collects a target's meta-object code is empty for
# most targets: loading the precompiled header would cost more than it saves.
function(stirwatch_skip_precompiled_for_moc target)
    set_source_files_properties(
        ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
        TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()
