# quillora_add_test_folder(kind)
#   unit:    pure functions of the client and the protocol.
#   gui:     real windows on the offscreen platform.
#   e2e:     the client against the real server process (in a Windows build, the Linux
#            server QUILLORA_TEST_SERVER names).
#   desktop: real windows under scripts/with-desktop (Xvfb, openbox, trayer).
#   wayland: the client binary under scripts/with-wayland (Weston, Xwayland); skipped
#            where Weston is missing.
#   server:  the reference server's library and process.
# Every test gets its own settings and data folders below the build tree.
function(quillora_add_test_folder kind)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${kind}/tst_*.cpp)
  foreach(source IN LISTS tests)
    get_filename_component(name ${source} NAME_WE)
    if(name MATCHES "bus$" AND NOT TARGET Qt6::DBus)
      continue() # a client built without D-Bus
    endif()
    set(target ${kind}_${name})
    add_executable(${target} ${source})
    quillora_warnings(${target})
    if(kind STREQUAL "server")
      target_link_libraries(${target} PRIVATE quillora-server-lib quillora-sims Qt6::Test)
      target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
      target_compile_definitions(${target} PRIVATE
        QUILLORA_SERVER_BIN="$<TARGET_FILE:quillora-server>")
    else()
      target_link_libraries(${target} PRIVATE quillora-testsupport)
    endif()
    if(kind STREQUAL "e2e" AND TARGET quillora-server)
      target_compile_definitions(${target} PRIVATE
        QUILLORA_SERVER_BIN="$<TARGET_FILE:quillora-server>" QUILLORA_TEST_SERVER_DB)
      add_dependencies(${target} quillora-server)
      target_link_libraries(${target} PRIVATE Qt6::Sql quillora-sims)
    elseif(kind STREQUAL "e2e")
      # The Windows build's tests run the Linux server (Wine starts Linux programs); they
      # cannot open its database, which needs Qt's SQL module, nor play the phone lines.
      target_compile_definitions(${target} PRIVATE QUILLORA_SERVER_BIN="${QUILLORA_TEST_SERVER}")
    endif()

    set(home ${CMAKE_CURRENT_BINARY_DIR}/home/${target})
    file(MAKE_DIRECTORY ${home})
    set(env "XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/run;QT_QPA_PLATFORM=offscreen")
    set(timeout 120)
    if(kind STREQUAL "desktop")
      set(command ${PROJECT_SOURCE_DIR}/scripts/with-desktop $<TARGET_FILE:${target}>)
      # Tests named *bus own the desktop's D-Bus services, on a session bus of their own.
      if(name MATCHES "bus$")
        list(PREPEND command dbus-run-session --)
      endif()
      add_test(NAME ${target} COMMAND ${command})
      set(env "XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/run;QT_QPA_PLATFORM=xcb")
      set(timeout 180)
    elseif(kind STREQUAL "wayland")
      # The test's own windows are on X; the client it starts gets no platform named.
      add_test(NAME ${target}
               COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-wayland $<TARGET_FILE:${target}>)
      set(env "XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/run;QT_QPA_PLATFORM=xcb")
      set(timeout 90)
      target_compile_definitions(${target} PRIVATE
        QUILLORA_CLIENT_BIN="$<TARGET_FILE:quillora-client>")
      add_dependencies(${target} quillora-client)
      set_tests_properties(${target} PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)
    else()
      add_test(NAME ${target} COMMAND ${target})
    endif()
    if(QUILLORA_SANITIZE)
      # Leaks are checked, except inside the system libraries the suppressions name.
      list(APPEND env
           "ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1"
           "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
           "UBSAN_OPTIONS=print_stacktrace=1")
      math(EXPR timeout "${timeout} * 3")
    endif()
    set_tests_properties(${target} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${timeout} LABELS ${kind})
  endforeach()
endfunction()
