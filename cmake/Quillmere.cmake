# Each subsystem folder builds a core library (no widgets, testable headless)
# and, where it has windows, a UI library. quillmere_core and quillmere_ui
# gather them so the application and tests link one name each.

add_library(quillmere_core INTERFACE)
add_library(quillmere_ui INTERFACE)
target_link_libraries(quillmere_ui INTERFACE quillmere_core)

# qm_core_library(<name> SOURCES ... [DEPS ...])
function(qm_core_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui Qt6::Xml ${ARG_DEPS})
    target_link_libraries(quillmere_core INTERFACE ${name})
endfunction()

# qm_ui_library(<name> SOURCES ... [DEPS ...])
function(qm_ui_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC Qt6::Widgets Qt6::Multimedia Qt6::MultimediaWidgets ${ARG_DEPS})
    target_link_libraries(quillmere_ui INTERFACE ${name})
endfunction()

# qm_add_test(<name> SOURCES ... LIBS ... [XVFB])
# Tests run offscreen; the sanitizer build gets the suppressions for
# third-party leaks in the multimedia stack.
function(qm_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    # glib's slice allocator keeps a lock that a test's forked child can
    # inherit held; plain malloc does not.
    set(env "QT_QPA_PLATFORM=offscreen" "G_SLICE=always-malloc"
            "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
            "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1"
            "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${ARG_TIMEOUT})
endfunction()
