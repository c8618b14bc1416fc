# The engine's true response for the plugin's editor and the command-line
# tool's `curve --measured` (tools/common/true_response.h). Included
# from tools/ and plugins/; whichever comes first defines the target.
#
# The library does not link an engine itself: the plugins link
# lintaq_static, the tool the shared library, and both cannot be in one
# program. LINTAQ_STATIC only matters on Windows, where only the plugins
# (and so the static engine) use it.
if(NOT TARGET lintaq_true_response)
  find_package(Threads REQUIRED)
  add_library(lintaq_true_response STATIC ${CMAKE_CURRENT_LIST_DIR}/true_response.cpp)
  target_include_directories(lintaq_true_response PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(lintaq_true_response PRIVATE LINTAQ_STATIC)
  target_link_libraries(lintaq_true_response PUBLIC Threads::Threads)
  # Linked into the plugin modules, which are shared libraries.
  set_target_properties(lintaq_true_response PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()
