# The Windows LV2 bundles. DPF writes an LV2 bundle's Turtle by running a
# generator that loads the module just built and asks it; for Windows both
# are Windows binaries, so the generator runs under Wine at build time.
# The module is named relative to the bundle folder (the working
# directory): Wine would not map a Unix path given to LoadLibrary. The
# first run creates the build folder's Wine prefix (the one the Windows
# tests use), so the two bundles are made one after the other.
find_program(LINTAQ_WINE wine)
if(NOT LINTAQ_WINE)
  message(FATAL_ERROR "The Windows LV2 bundles need Wine to write their Turtle: install wine (scripts/install-deps.sh)")
endif()
dpf__add_lv2_ttl_generator()
target_compile_options(lv2_ttl_generator PRIVATE -w)
# C runtime linked in: Wine's own DLLs are all it needs.
target_link_options(lv2_ttl_generator PRIVATE -static)

function(lintaq_windows_lv2_ttl NAME)
  add_custom_command(TARGET ${NAME}-lv2 POST_BUILD
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_lv2_ttl.sh ${PROJECT_BINARY_DIR}/wineprefix
            $<TARGET_FILE:lv2_ttl_generator> $<TARGET_FILE_NAME:${NAME}-lv2>
    WORKING_DIRECTORY ${LINTAQ_LV2_DIR}/${NAME}.lv2
    VERBATIM)
endfunction()
