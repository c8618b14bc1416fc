# The plugins' editor (dpf/editor/): DGL with NanoVG on OpenGL, on Linux
# (X11) and Windows (GDI, OpenGL32). Cairo, DGL's other drawing back end,
# has no MinGW build, so one OpenGL editor serves both.
#
# VST3 and CLAP carry the editor in the plugin's own module; LV2 has it in a
# module of its own (lintaq-*_ui) in the same bundle, as LV2 hosts expect
# (DPF's Turtle generator names it in the manifest).
#
# Included from plugins/CMakeLists.txt after the plugin targets exist.
option(LINTAQ_BUILD_PLUGIN_UI "Build the plugins' curve editor (OpenGL)" ON)

# The editor's rules without a display (tested in tests/editor).
add_library(lintaq_editor_model STATIC dpf/editor/editor_model.cpp)
target_include_directories(lintaq_editor_model PUBLIC dpf/editor dpf ${PROJECT_SOURCE_DIR}/tools/common)
target_link_libraries(lintaq_editor_model PUBLIC lintaq_static)
set_target_properties(lintaq_editor_model PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(LINTAQ_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/editor ${CMAKE_CURRENT_BINARY_DIR}/tests-editor)
endif()

if(NOT LINTAQ_BUILD_PLUGIN_UI)
  return()
endif()

find_package(Threads REQUIRED)
dpf__add_dgl_opengl()
target_compile_options(dgl-opengl PRIVATE -w)
set_source_files_properties(${DPF_ROOT_DIR}/distrho/DistrhoUIMain.cpp PROPERTIES COMPILE_OPTIONS -w)

# Adds the editor to a module target of one format.
function(lintaq_add_ui target format)
  dpf__add_ui_main(${target} ${format} TRUE)
  target_sources(${target} PRIVATE dpf/editor/lintaq_ui.cpp)
  target_include_directories(${target} SYSTEM PRIVATE ${DPF_ROOT_DIR}/dgl)
  target_include_directories(${target} PRIVATE dpf/editor)
  target_link_libraries(${target} PRIVATE lintaq_editor_model lintaq_true_response dgl-opengl dgl-opengl-definitions
                        dgl-system-libs Threads::Threads)
  if(WIN32)
    target_link_libraries(${target} PRIVATE opengl32 gdi32 user32 comdlg32)
  endif()
endfunction()

foreach(name IN LISTS LINTAQ_PLUGIN_NAMES)
  if(name STREQUAL lintaq-mono)
    set(channels 1)
  else()
    set(channels 2)
  endif()
  foreach(format vst3 clap)
    lintaq_add_ui(${name}-${format} ${format})
    target_compile_definitions(${name}-${format} PRIVATE LINTAQ_PLUGIN_UI=1)
  endforeach()
  # LV2's editor is a module of its own in the bundle (on Windows too, where
  # the Turtle that names it is written under Wine). The processing module
  # names it in its Turtle; DPF writes that only when it is told an OpenGL
  # editor exists.
  target_compile_definitions(${name}-lv2 PRIVATE LINTAQ_PLUGIN_UI=1)
  target_link_libraries(${name}-lv2 PRIVATE dgl-opengl-definitions)
  set(ui ${name}-lv2-ui)
  dpf__add_module(${ui})
  lintaq_add_ui(${ui} lv2)
  target_include_directories(${ui} SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho ${DPF_ROOT_DIR}/distrho/src)
  target_include_directories(${ui} PRIVATE dpf)
  target_compile_definitions(${ui} PRIVATE LINTAQ_CHANNELS=${channels} LINTAQ_PLUGIN_UI=1)
  target_link_options(${ui} PRIVATE -Wl,--no-undefined)
  set_target_properties(${ui} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${LINTAQ_LV2_DIR}/${name}.lv2
    RUNTIME_OUTPUT_DIRECTORY ${LINTAQ_LV2_DIR}/${name}.lv2 OUTPUT_NAME ${name}_ui PREFIX "" SUFFIX ${LINTAQ_SO})
  dpf__set_module_export_list(${ui} lv2-ui)
  add_dependencies(${name}-lv2 ${ui})
endforeach()

# Time from a change to the engine's measured curve (bench/editor/).
if(LINTAQ_BUILD_BENCH AND NOT WIN32)
  add_executable(bench_true_curve_latency ${PROJECT_SOURCE_DIR}/bench/editor/true_curve_latency.cpp)
  target_link_libraries(bench_true_curve_latency PRIVATE lintaq_editor_model lintaq_true_response)
endif()
