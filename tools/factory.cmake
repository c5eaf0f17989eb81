# The factory settings file of the simulated machine's default identity: tool_make_factory
# seals its image into factorySettings/ beside the executables (after data/ is copied, so the
# made file is what runs), and a test checks that data/factorySettings/ holds exactly that file.
target_link_libraries(tool_make_factory PRIVATE kelvane_sim)

set(KELVANE_FACTORY_STAMP ${CMAKE_BINARY_DIR}/generated/factory.stamp)
add_custom_command(
    OUTPUT ${KELVANE_FACTORY_STAMP}
    COMMAND tool_make_factory --sim-default ${KELVANE_BIN_DIR}/factorySettings
    COMMAND ${CMAKE_COMMAND} -E touch ${KELVANE_FACTORY_STAMP}
    DEPENDS tool_make_factory
    COMMENT "Making the factory settings file of the simulated machine"
    VERBATIM)
add_custom_target(kelvane_factory DEPENDS ${KELVANE_FACTORY_STAMP})
add_dependencies(kelvane_factory kelvane_data)
add_dependencies(kelvane_generated kelvane_factory)

if(KELVANE_TESTS)
    enable_testing()
    add_test(NAME factory_file_current
        COMMAND tool_make_factory --check --sim-default ${CMAKE_SOURCE_DIR}/data/factorySettings)
endif()
