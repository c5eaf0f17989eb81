# The firmware files shipped for the simulated machine: tool_make_firmware makes them into
# firmware/ beside the executables (after data/ is copied), and a test checks that
# data/firmware holds exactly those files.
target_link_libraries(tool_make_firmware PRIVATE kelvane_sim)

set(KELVANE_FIRMWARE_STAMP ${CMAKE_BINARY_DIR}/generated/firmware.stamp)
add_custom_command(
    OUTPUT ${KELVANE_FIRMWARE_STAMP}
    COMMAND tool_make_firmware --sim ${KELVANE_BIN_DIR}/firmware
    COMMAND ${CMAKE_COMMAND} -E touch ${KELVANE_FIRMWARE_STAMP}
    DEPENDS tool_make_firmware
    COMMENT "Making the firmware files of the simulated machine"
    VERBATIM)
add_custom_target(kelvane_firmware DEPENDS ${KELVANE_FIRMWARE_STAMP})
add_dependencies(kelvane_firmware kelvane_data)
add_dependencies(kelvane_generated kelvane_firmware)

if(KELVANE_TESTS)
    enable_testing()
    add_test(NAME firmware_files_current
        COMMAND tool_make_firmware --check --sim ${CMAKE_SOURCE_DIR}/data/firmware)
endif()
