# The viewer's resources, compiled into the object library korvane_resources:
#   :/OCXKORVANECD      the imaging component module (when its target exists)
#   :/LGOKORVANECD      the splash picture (JPEG)
#   :/cursors/<NAME>    the tool cursors SCROLL, WIDTHLEVEL, MAGNIFY, MOVE, ZOOM, MEASURE
#   :/icons/KORVANECD   the application icon
# Pictures are drawn at build time by korvane_drawresources.
# Included from viewer/shell/CMakeLists.txt.

set(KRES_DIR ${CMAKE_BINARY_DIR}/resources)
add_executable(korvane_drawresources ${CMAKE_SOURCE_DIR}/resources/draw/drawresources.cpp)
korvane_warnings(korvane_drawresources)
target_link_libraries(korvane_drawresources PRIVATE Qt6::Gui)

set(KRES_PICTURES
  ${KRES_DIR}/cursor_scroll.png ${KRES_DIR}/cursor_widthlevel.png ${KRES_DIR}/cursor_magnify.png
  ${KRES_DIR}/cursor_move.png ${KRES_DIR}/cursor_zoom.png ${KRES_DIR}/cursor_measure.png ${KRES_DIR}/korvanecd.png
  ${KRES_DIR}/splash.jpg)
add_custom_command(OUTPUT ${KRES_PICTURES}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:korvane_drawresources> ${KRES_DIR}
  DEPENDS korvane_drawresources
  COMMENT "Drawing the viewer's cursors, icon and splash picture"
  VERBATIM)

set(KRES_MODULE_ENTRY "")
set(KRES_MODULE_DEPENDS "")
if(TARGET korvane_imaging_module)
  set(KRES_MODULE_ENTRY "  <file alias=\"OCXKORVANECD\">$<TARGET_FILE:korvane_imaging_module></file>\n")
  set(KRES_MODULE_DEPENDS korvane_imaging_module)
endif()
file(GENERATE OUTPUT ${KRES_DIR}/korvane.qrc CONTENT
"<!DOCTYPE RCC><RCC version=\"1.0\">
<qresource prefix=\"/\">
${KRES_MODULE_ENTRY}  <file alias=\"LGOKORVANECD\">${KRES_DIR}/splash.jpg</file>
  <file alias=\"cursors/SCROLL\">${KRES_DIR}/cursor_scroll.png</file>
  <file alias=\"cursors/WIDTHLEVEL\">${KRES_DIR}/cursor_widthlevel.png</file>
  <file alias=\"cursors/MAGNIFY\">${KRES_DIR}/cursor_magnify.png</file>
  <file alias=\"cursors/MOVE\">${KRES_DIR}/cursor_move.png</file>
  <file alias=\"cursors/ZOOM\">${KRES_DIR}/cursor_zoom.png</file>
  <file alias=\"cursors/MEASURE\">${KRES_DIR}/cursor_measure.png</file>
  <file alias=\"icons/KORVANECD\">${KRES_DIR}/korvanecd.png</file>
</qresource>
</RCC>
")
add_custom_command(OUTPUT ${KRES_DIR}/qrc_korvane.cpp
  COMMAND Qt6::rcc --name korvane --output ${KRES_DIR}/qrc_korvane.cpp ${KRES_DIR}/korvane.qrc
  DEPENDS ${KRES_DIR}/korvane.qrc ${KRES_PICTURES} ${KRES_MODULE_DEPENDS}
  COMMENT "Embedding the viewer's resources"
  VERBATIM)
set_source_files_properties(${KRES_DIR}/qrc_korvane.cpp PROPERTIES SKIP_AUTOGEN ON GENERATED ON)
# An object library: its static initialiser registers the resources in every
# program that links it.
add_library(korvane_resources OBJECT ${KRES_DIR}/qrc_korvane.cpp)
target_link_libraries(korvane_resources PRIVATE Qt6::Core)
