# cmake -DPROGRAM=exe -DSOURCE=page.man -DOUTPUT=page.1 -DVERSION=v -DDATE=d -DFOLDERS=a|b
#       -P ManPage.cmake
# A manual page: the page's source with the program's own --help text as its usage section,
# so the options shown are always the ones the program has, and the installation tree's
# folders as the package ships them (@FOLDERS@: "a", "b" and "c").
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${PROGRAM} --help
    OUTPUT_VARIABLE usage RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0 OR usage STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
endif()
string(REPLACE "\\" "\\e" usage "${usage}")
string(REPLACE "-" "\\-" usage "${usage}")
# A line starting with a dot or quote would be a request.
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" usage "${usage}")
string(REGEX REPLACE "\n+$" "" usage "${usage}")
file(READ ${SOURCE} page)
string(REPLACE "@USAGE@" ".nf\n${usage}\n.fi" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@DATE@" "${DATE}" page "${page}")
string(REPLACE "|" ";" folders "${FOLDERS}")
list(TRANSFORM folders PREPEND "\"")
list(TRANSFORM folders APPEND "\"")
list(POP_BACK folders last)
list(JOIN folders ", " folderText)
if(folderText)
    set(folderText "${folderText} and ${last}")
else()
    set(folderText "${last}")
endif()
string(REPLACE "@FOLDERS@" "${folderText}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
