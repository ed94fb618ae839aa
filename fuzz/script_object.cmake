# The template engine of the script object: the token copier, tag
# parameters and %-escapes, and the page producers, over a dataset fed from
# a prepared result (no server).
quill_fuzz_target(fuzz_page_producer SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_page_producer.cpp
                  LIBS quill_script_object)
target_include_directories(fuzz_page_producer PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/mysql_dataset)
