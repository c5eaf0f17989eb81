# The loader "BL.hex" beside the executables, remade from tool_make_loader.
add_custom_command(OUTPUT ${KELVANE_BIN_DIR}/BL.hex
    COMMAND tool_make_loader ${KELVANE_BIN_DIR}/BL.hex
    DEPENDS tool_make_loader
    COMMENT "Making the loader BL.hex")
add_custom_target(kelvane_loader DEPENDS ${KELVANE_BIN_DIR}/BL.hex)
add_dependencies(kelvane_loader kelvane_data)
add_dependencies(kelvane_generated kelvane_loader)
if(KELVANE_TESTS)
    enable_testing()
    add_test(NAME loader_file_is_generated
        COMMAND tool_make_loader --check ${CMAKE_SOURCE_DIR}/data/BL.hex)
endif()
