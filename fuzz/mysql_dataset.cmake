# SQL macro expansion with filters and master conditions, and the
# statements the editing hooks send, over datasets fed from prepared
# results (no server).
quill_fuzz_target(fuzz_sql_expand SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_sql_expand.cpp
                  LIBS quill_mysql_dataset)
target_include_directories(fuzz_sql_expand PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/mysql_dataset)
