# The page compiler of the page host, on hostile page text and includes.
quill_fuzz_target(fuzz_page_compiler SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_page_compiler.cpp LIBS quill_asp)
