# The MySQL dataset against the private server. Included from
# tests/db/CMakeLists.txt, before the shared server lock is applied to the
# directory's tests.
quill_test(NAME mysql_dataset_db_test LABEL db SAKILA
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_open_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_types_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_sakila_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_integrity_sakila_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_cache_db_test.cpp
  LIBS quill_mysql_dataset quill_test_server)
