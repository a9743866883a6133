# GUI tests: one Qt Test program per file in tests/app, on the offscreen platform.
if(TARGET tegalo_app)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  file(GLOB TEGALO_APP_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*_test.cpp)
  file(GLOB TEGALO_APP_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/support/*.cpp)
  if(TEGALO_APP_TEST_SUPPORT)
    add_library(tegalo_app_test_support STATIC ${TEGALO_APP_TEST_SUPPORT})
    set_target_properties(tegalo_app_test_support PROPERTIES AUTOMOC ON)
    target_link_libraries(tegalo_app_test_support PUBLIC tegalo_app Qt6::Test)
    target_include_directories(tegalo_app_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/app)
  endif()
  foreach(source ${TEGALO_APP_TESTS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE tegalo_app Qt6::Test tegalo_warnings)
    if(TARGET tegalo_app_test_support)
      target_link_libraries(${name} PRIVATE tegalo_app_test_support)
    endif()
    target_compile_definitions(${name} PRIVATE TEGALO_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
      TEGALO_EXE="$<TARGET_FILE:tegalo>")
    add_dependencies(${name} tegalo)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software" TIMEOUT 300)
  endforeach()
endif()

# `tegalo` itself links no library of the screen, and hands a start without
# a command over to `tegalo-window` (which then fails here on a platform
# plugin that does not exist, naming it).
if(TARGET tegalo)
  add_test(NAME tegalo_links_no_gui
    COMMAND sh -c "readelf -d \"$1\" | grep NEEDED" sh $<TARGET_FILE:tegalo>)
  set_tests_properties(tegalo_links_no_gui PROPERTIES
    PASS_REGULAR_EXPRESSION "libQt6Core" FAIL_REGULAR_EXPRESSION "Qt6Gui|Qt6Widgets|Qt6PrintSupport|Qt6DBus")
  add_test(NAME tegalo_hands_window_over
    COMMAND sh -c "\"$1\" --dir \"$2\" 2>&1; true" sh $<TARGET_FILE:tegalo> ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(tegalo_hands_window_over PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=tegalo-no-such-platform" PASS_REGULAR_EXPRESSION "tegalo-no-such-platform" TIMEOUT 60)
endif()
