# The Qt program: a library of the commands without a window (Qt's core and
# network only), a library of its windows (which the GUI tests link), and
# the two executables around them.
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport Network)

# Its folders, bottom layer first.
set(TEGALO_APP_FOLDERS gui config/qt transfer/qt session cli ui app)
set(TEGALO_APP_SOURCES)
set(TEGALO_APP_HEADERS)
foreach(folder ${TEGALO_APP_FOLDERS})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(APPEND TEGALO_APP_SOURCES ${sources})
  list(APPEND TEGALO_APP_HEADERS ${headers})
endforeach()
list(REMOVE_ITEM TEGALO_APP_SOURCES ${PROJECT_SOURCE_DIR}/app/main.cpp ${PROJECT_SOURCE_DIR}/cli/main.cpp)

# What `tegalo --receive` and the other commands without a window need: the
# sockets, the sessions, the command line, and Qt text (gui/QtText.cpp, no
# widgets). Linking no GUI library keeps such a run's start short.
set(TEGALO_SESSION_SOURCES ${PROJECT_SOURCE_DIR}/gui/QtText.cpp)
set(TEGALO_SESSION_HEADERS ${PROJECT_SOURCE_DIR}/gui/QtText.h)
foreach(folder transfer/qt session cli)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(APPEND TEGALO_SESSION_SOURCES ${sources})
  list(APPEND TEGALO_SESSION_HEADERS ${headers})
endforeach()
list(REMOVE_ITEM TEGALO_SESSION_SOURCES ${PROJECT_SOURCE_DIR}/cli/main.cpp)
list(REMOVE_ITEM TEGALO_APP_SOURCES ${TEGALO_SESSION_SOURCES})
list(REMOVE_ITEM TEGALO_APP_HEADERS ${TEGALO_SESSION_HEADERS})

add_library(tegalo_session STATIC ${TEGALO_SESSION_SOURCES} ${TEGALO_SESSION_HEADERS})
set_target_properties(tegalo_session PROPERTIES AUTOMOC ON)
target_link_libraries(tegalo_session PUBLIC tegalo_core Qt6::Network PRIVATE tegalo_warnings)

add_library(tegalo_app STATIC ${TEGALO_APP_SOURCES} ${TEGALO_APP_HEADERS})
set_target_properties(tegalo_app PROPERTIES AUTOMOC ON)
target_link_libraries(tegalo_app PUBLIC tegalo_session Qt6::Widgets Qt6::PrintSupport PRIVATE tegalo_warnings)
# The desktop's notification service, when Qt has D-Bus (Debian's does).
find_package(Qt6 QUIET COMPONENTS DBus)
if(TARGET Qt6::DBus)
  target_link_libraries(tegalo_app PRIVATE Qt6::DBus)
  target_compile_definitions(tegalo_app PRIVATE TEGALO_HAVE_DBUS)
endif()
# Byte strings never turn into QString by accident: Shift_JIS reaches Qt only
# through gui/QtText.h.
target_compile_definitions(tegalo_session PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)

# `tegalo` runs the commands without a window itself and hands the window
# over to `tegalo-window`, which must sit beside it.
add_executable(tegalo ${PROJECT_SOURCE_DIR}/cli/main.cpp)
target_link_libraries(tegalo PRIVATE tegalo_session tegalo_warnings)
add_executable(tegalo-window ${PROJECT_SOURCE_DIR}/app/main.cpp)
target_link_libraries(tegalo-window PRIVATE tegalo_app tegalo_warnings)
add_dependencies(tegalo tegalo-window)

# Renders the README's pictures of the window and the viewer.
add_executable(tegalo-screenshots ${PROJECT_SOURCE_DIR}/tools/tegalo_screenshots.cpp)
target_link_libraries(tegalo-screenshots PRIVATE tegalo_app tegalo_warnings)
