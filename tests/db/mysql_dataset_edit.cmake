# Editing, statements, conditions and master/detail of the MySQL dataset
# against the private server (and the sample database when loaded).
quill_test(NAME mysql_dataset_edit_db_test LABEL db SAKILA
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_edit_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mysql_dataset_integrity_db_test.cpp
  LIBS quill_mysql_dataset quill_test_server)
