# The toolbar and menu pictures of the viewer's main window, drawn at build time by
# korvane_drawtoolbar and embedded under ":/toolbar/<button>.png" in the object library
# korvane_toolbar_icons (initialised with Q_INIT_RESOURCE(toolbar)).
# Included from viewer/window/CMakeLists.txt.

set(KTB_DIR ${CMAKE_BINARY_DIR}/resources/toolbar)
add_executable(korvane_drawtoolbar ${CMAKE_SOURCE_DIR}/resources/toolbar/drawtoolbar.cpp)
korvane_warnings(korvane_drawtoolbar)
target_link_libraries(korvane_drawtoolbar PRIVATE Qt6::Gui)
add_custom_command(OUTPUT ${KTB_DIR}/qrc_toolbar.cpp
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:korvane_drawtoolbar> ${KTB_DIR}
  COMMAND Qt6::rcc --name toolbar --output ${KTB_DIR}/qrc_toolbar.cpp ${KTB_DIR}/toolbar.qrc
  DEPENDS korvane_drawtoolbar
  COMMENT "Drawing the toolbar pictures"
  VERBATIM)
set_source_files_properties(${KTB_DIR}/qrc_toolbar.cpp PROPERTIES SKIP_AUTOGEN ON GENERATED ON)
add_library(korvane_toolbar_icons STATIC ${KTB_DIR}/qrc_toolbar.cpp)
target_link_libraries(korvane_toolbar_icons PRIVATE Qt6::Core)
