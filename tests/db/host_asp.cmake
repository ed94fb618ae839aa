# The page host against Quill.so and the private server: values through
# real columns, and form posts that insert, edit and delete rows, through
# `quill-asp render` and over HTTP. The rows are checked with the client
# library directly, independent of Quill.
quill_test(NAME host_asp_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_asp_db_test.cpp
  LIBS quill_asp quill_test_sql ${CMAKE_DL_LIBS})
quill_page_host_test(host_asp_db_test)

# Sessions shared by two quill-asp processes through the private server.
quill_test(NAME host_asp_sessions_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_asp_sessions_db_test.cpp
  LIBS quill_asp quill_test_server)
quill_page_host_test(host_asp_sessions_db_test)
