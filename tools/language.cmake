# Language files from the one table of texts: tool_make_language writes german.csv and
# english.csv into generated/language/, they are copied into the installation tree beside the
# executables (after data/ is copied, so these win), and a test checks that data/language/
# holds exactly what the table gives.
set(KELVANE_LANGUAGE_TABLE ${CMAKE_CURRENT_SOURCE_DIR}/texts.tsv)
set(KELVANE_LANGUAGE_OUT ${CMAKE_BINARY_DIR}/generated/language)
set(KELVANE_LANGUAGE_FILES ${KELVANE_LANGUAGE_OUT}/german.csv ${KELVANE_LANGUAGE_OUT}/english.csv)

add_custom_command(
    OUTPUT ${KELVANE_LANGUAGE_FILES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KELVANE_LANGUAGE_OUT}
    COMMAND tool_make_language --table ${KELVANE_LANGUAGE_TABLE} --out ${KELVANE_LANGUAGE_OUT}
    DEPENDS tool_make_language ${KELVANE_LANGUAGE_TABLE}
    COMMENT "Making the language files from tools/texts.tsv"
    VERBATIM)

add_custom_target(kelvane_language
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KELVANE_BIN_DIR}/language
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KELVANE_LANGUAGE_FILES} ${KELVANE_BIN_DIR}/language/
    DEPENDS ${KELVANE_LANGUAGE_FILES}
    VERBATIM)
add_dependencies(kelvane_language kelvane_data)
add_dependencies(kelvane_generated kelvane_language)

if(KELVANE_TESTS)
    enable_testing()
    add_test(NAME language_files_current
        COMMAND tool_make_language --table ${KELVANE_LANGUAGE_TABLE}
                --check ${CMAKE_SOURCE_DIR}/data/language)
endif()

# Every text literal the program's sources show translated must be in the table.
if(KELVANE_TESTS)
    add_test(NAME language_table_covers_sources
        COMMAND tool_make_language --table ${KELVANE_LANGUAGE_TABLE} --sources ${CMAKE_SOURCE_DIR})
endif()
