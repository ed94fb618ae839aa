# The connection component against the private server. Included from
# tests/db/CMakeLists.txt, before the shared server lock is applied to the
# directory's tests.
quill_test(NAME mysql_server_db_test LABEL db
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mysql_server_connection_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_server_statements_db_test.cpp
  LIBS quill_mysql_server quill_test_server)
