# What keeps a build from scratch short on a small machine.

# Debian builds its packages at -O2; CMake's Release default of -O3 costs compile time and buys nothing
# measurable for code that waits on sockets, files and the toolkit. Only CMake's own default is replaced.
foreach(lang C CXX)
    if(CMAKE_${lang}_FLAGS_RELEASE STREQUAL "-O3 -DNDEBUG")
        set(CMAKE_${lang}_FLAGS_RELEASE "-O2 -DNDEBUG")
    endif()
endforeach()

# gold links in about a fifth of GNU ld's time (a test program: 0.2 s against 1 s); each build links some
# sixty programs and libraries. It comes with binutils, as GNU ld does; without it, GNU ld.
include(CheckLinkerFlag)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    check_linker_flag(CXX "-fuse-ld=gold" ZYR_LINKER_GOLD)
    if(ZYR_LINKER_GOLD)
        add_link_options(-fuse-ld=gold)
    endif()
endif()

# Precompiled headers, each image built once per build and reused by every target of its kind, so the
# standard library's, the toolkit's and the test framework's headers are read once instead of in every
# file. Four kinds: the core or the windows, each with or without the test framework. Project headers stay
# out: they change, and each change would rebuild everything. GCC only: it passes over an image it cannot
# use, saying so (-Winvalid-pch), and reads the headers instead, where clang stops with an error.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT ZYR_FUZZ)
    set(ZYR_PCH_DEFAULT ON)
else()
    set(ZYR_PCH_DEFAULT OFF)
endif()
option(ZYR_PCH "Precompiled headers shared by the targets of each kind" ${ZYR_PCH_DEFAULT})

set(ZYR_PCH_CORE
    <algorithm> <atomic> <chrono> <condition_variable> <cstdint> <cstdio> <cstring> <deque> <functional> <map>
    <memory> <mutex> <optional> <string> <thread> <unordered_map> <utility> <vector>
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QFileInfo> <QHash> <QList>
    <QLocale> <QObject> <QRegularExpression> <QString> <QStringList> <QThread> <QTimer>)
set(ZYR_PCH_WIDGETS
    <QAction> <QApplication> <QCheckBox> <QComboBox> <QDialog> <QGridLayout> <QHBoxLayout> <QHeaderView>
    <QKeyEvent> <QLabel> <QLineEdit> <QMainWindow> <QMenu> <QMessageBox> <QMouseEvent> <QPainter>
    <QPushButton> <QScreen> <QStyledItemDelegate> <QSystemTrayIcon> <QTabWidget> <QTextBrowser> <QToolBar>
    <QToolButton> <QTreeWidget> <QVBoxLayout> <QWidget>)
set(ZYR_PCH_TESTS <gtest/gtest.h> <fstream> <sstream> <QProcess> <QTemporaryDir>)

# The image's owner: an object library of one empty file, linked as its users are, so that its flags and
# macros are theirs.
function(_zyr_pch_owner name)
    cmake_parse_arguments(P "" "" "HEADERS;LIBS" ${ARGN})
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pch/${name}.cpp CONTENT "// The owner of a precompiled header.\n")
    add_library(${name} OBJECT EXCLUDE_FROM_ALL ${CMAKE_BINARY_DIR}/pch/${name}.cpp)
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    target_precompile_headers(${name} PRIVATE ${P_HEADERS})
endfunction()

# Every target a target's compilation sees: what it links, and what those pass on to their users (not
# what they only link themselves). The walk stops at imported targets; their names are enough.
function(_zyr_compile_closure target out)
    set(seen)
    set(queue ${target})
    set(first TRUE)
    while(queue)
        list(POP_FRONT queue t)
        if(t IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${t})
        if(NOT TARGET ${t})
            continue()
        endif()
        get_target_property(imported ${t} IMPORTED)
        if(imported)
            continue()
        endif()
        set(links)
        get_target_property(type ${t} TYPE)
        if(first AND NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(links ${t} LINK_LIBRARIES)
        else()
            get_target_property(links ${t} INTERFACE_LINK_LIBRARIES)
        endif()
        set(first FALSE)
        foreach(lib IN LISTS links)
            if(lib AND NOT lib MATCHES "^\\$<" AND NOT lib MATCHES "-NOTFOUND$")
                list(APPEND queue ${lib})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(_zyr_targets_below dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        _zyr_targets_below(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Unity builds: the files of a target compiled in batches, one translation unit a batch, so that headers
# are read and templates instantiated once a batch rather than once a file. The batch includes its files by
# paths relative to itself, so the compiler cache (paths relative to the tree) serves every clone alike.
# Files of one target then share one scope: two of them must not define the same name in an anonymous
# namespace. A file that must stay apart takes the source property SKIP_UNITY_BUILD_INCLUSION, a target
# that must the property ZYR_NO_UNITY.
option(ZYR_UNITY "Compile the files of each target in batches" ON)
set(ZYR_UNITY_BATCH 8 CACHE STRING "Files a unity batch holds at most")

function(_zyr_unity target)
    get_target_property(dir ${target} SOURCE_DIR)
    get_target_property(bin ${target} BINARY_DIR)
    get_target_property(sources ${target} SOURCES)
    set(kept)
    set(batched)
    foreach(src IN LISTS sources)
        set(path ${src})
        if(NOT IS_ABSOLUTE "${path}")
            set(path ${dir}/${src})
        endif()
        set(alone FALSE)
        if(NOT path MATCHES "\\.cpp$" OR src MATCHES "\\$<")
            set(alone TRUE)
        else()
            foreach(p GENERATED HEADER_FILE_ONLY SKIP_UNITY_BUILD_INCLUSION COMPILE_DEFINITIONS COMPILE_OPTIONS
                      COMPILE_FLAGS INCLUDE_DIRECTORIES)
                get_source_file_property(v ${path} TARGET_DIRECTORY ${target} ${p})
                if(v)
                    set(alone TRUE)
                endif()
            endforeach()
        endif()
        if(alone)
            list(APPEND kept ${src})
        else()
            list(APPEND batched ${path})
        endif()
    endforeach()
    list(LENGTH batched count)
    if(count LESS 2)
        return()
    endif()
    # As many batches as the size allows, filled evenly.
    math(EXPR batches "(${count} + ${ZYR_UNITY_BATCH} - 1) / ${ZYR_UNITY_BATCH}")
    math(EXPR size "(${count} + ${batches} - 1) / ${batches}")
    set(unity_dir ${bin}/${target}_unity)
    set(n 0)
    set(content)
    foreach(path IN LISTS batched)
        file(RELATIVE_PATH rel ${unity_dir} ${path})
        string(APPEND content "#include \"${rel}\"\n")
        math(EXPR n "${n} + 1")
        math(EXPR last "${n} % ${size}")
        if(last EQUAL 0 OR n EQUAL count)
            math(EXPR batch "(${n} - 1) / ${size}")
            file(CONFIGURE OUTPUT ${unity_dir}/${batch}.cpp CONTENT "${content}" @ONLY)
            list(APPEND kept ${unity_dir}/${batch}.cpp)
            set(content)
        endif()
    endforeach()
    set_property(TARGET ${target} PROPERTY SOURCES ${kept})
    # An anonymous namespace's type in an included file is no fault here: each file is one batch's part.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
endfunction()

# Test programs are built at -O1 in optimised builds and unoptimised in debug (sanitizer) builds: the code
# under test keeps the build's optimisation, and a test file compiles in some three quarters of the time.
set(ZYR_TEST_OPTIMISATION "$<$<CONFIG:Release,RelWithDebInfo>:-O1>$<$<CONFIG:Debug>:-O0>")

# zyr_build_speed(): called once, after every target is defined. Each C++ target of the project is built
# in unity batches; each that uses the toolkit and the project's common settings takes the precompiled
# header image of its kind, unless it sets its own headers or the property ZYR_NO_PCH. Test programs (those
# that use the test framework) take the tests' optimisation. New folders and targets need nothing to take
# part.
function(zyr_build_speed)
    _zyr_targets_below(${PROJECT_SOURCE_DIR} targets)
    foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            continue()
        endif()
        get_target_property(no_unity ${t} ZYR_NO_UNITY)
        get_target_property(cmake_unity ${t} UNITY_BUILD)
        if(ZYR_UNITY AND NOT no_unity AND NOT cmake_unity)
            _zyr_unity(${t})
        endif()
        _zyr_compile_closure(${t} seen)
        set(test FALSE)
        if("GTest::gtest" IN_LIST seen OR "GTest::gtest_main" IN_LIST seen)
            set(test TRUE)
            target_compile_options(${t} PRIVATE ${ZYR_TEST_OPTIMISATION})
        endif()
        if(NOT ZYR_PCH)
            continue()
        endif()
        get_target_property(own ${t} PRECOMPILE_HEADERS)
        get_target_property(reused ${t} PRECOMPILE_HEADERS_REUSE_FROM)
        get_target_property(opted_out ${t} ZYR_NO_PCH)
        if(own OR reused OR opted_out)
            continue()
        endif()
        get_target_property(sources ${t} SOURCES)
        list(FILTER sources INCLUDE REGEX "\\.cpp$")
        if(NOT sources)
            continue()
        endif()
        if(NOT "zyr_common" IN_LIST seen OR NOT "Qt6::Core" IN_LIST seen)
            continue()
        endif()
        set(kind core)
        if("Qt6::Widgets" IN_LIST seen)
            set(kind widgets)
        endif()
        if(test)
            string(APPEND kind _tests)
        endif()
        list(APPEND users_${kind} ${t})
    endforeach()

    set(libs_core zyr_common Qt6::Core Threads::Threads)
    set(libs_widgets ${libs_core} Qt6::Widgets Qt6::Multimedia Qt6::DBus)
    foreach(kind core core_tests widgets widgets_tests)
        if(NOT users_${kind})
            continue()
        endif()
        set(headers ${ZYR_PCH_CORE})
        set(libs ${libs_core})
        if(kind MATCHES "^widgets")
            list(APPEND headers ${ZYR_PCH_WIDGETS})
            set(libs ${libs_widgets})
        endif()
        if(kind MATCHES "_tests$")
            list(APPEND headers ${ZYR_PCH_TESTS})
            list(APPEND libs GTest::gtest)
        endif()
        _zyr_pch_owner(zyr_pch_${kind} HEADERS ${headers} LIBS ${libs})
        if(kind MATCHES "_tests$")
            target_compile_options(zyr_pch_${kind} PRIVATE ${ZYR_TEST_OPTIMISATION})
        endif()
        foreach(t IN LISTS users_${kind})
            target_precompile_headers(${t} REUSE_FROM zyr_pch_${kind})
        endforeach()
    endforeach()
endfunction()
