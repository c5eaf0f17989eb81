# Report templates: UTF-8 sources in report/templates/ become the UTF-16LE files of
# data/templates/ beside the executables; a test checks the committed copies.
file(GLOB KELVANE_TEMPLATE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/report/templates/*.html)
set(KELVANE_TEMPLATE_OUTPUTS)
foreach(src ${KELVANE_TEMPLATE_SOURCES})
    get_filename_component(n ${src} NAME)
    list(APPEND KELVANE_TEMPLATE_OUTPUTS ${KELVANE_BIN_DIR}/templates/${n})
endforeach()
add_custom_target(kelvane_templates
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KELVANE_BIN_DIR}/templates
    COMMAND tool_make_template ${KELVANE_BIN_DIR}/templates ${KELVANE_TEMPLATE_SOURCES}
    DEPENDS tool_make_template ${KELVANE_TEMPLATE_SOURCES}
    VERBATIM)
add_dependencies(kelvane_templates kelvane_data)
add_dependencies(kelvane_generated kelvane_templates)
if(KELVANE_TESTS)
    enable_testing()
    add_test(NAME template_files_current
        COMMAND tool_make_template --check ${CMAKE_SOURCE_DIR}/data/templates ${KELVANE_TEMPLATE_SOURCES})
endif()
