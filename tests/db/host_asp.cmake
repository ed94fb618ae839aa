# The page host against Quill.so and the private server: values through
# real columns, and form posts that insert, edit and delete rows, through
# `quill-asp render` and over HTTP. The rows are checked with the client
# library directly, independent of Quill.
if(TARGET Quill AND TARGET quill_asp)
  quill_test(NAME host_asp_db_test LABEL db
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_asp_db_test.cpp
    LIBS quill_asp quill_test_server ${smoke_client} ${CMAKE_DL_LIBS})
  target_include_directories(host_asp_db_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/host_asp)
  target_compile_definitions(host_asp_db_test PRIVATE
    QUILL_MODULE_PATH="$<TARGET_FILE:Quill>"
    ASP_TEST_COMPONENT="$<TARGET_FILE:asp_test_component>"
    QUILL_ASP_PROGRAM="$<TARGET_FILE:quill-asp>")
  add_dependencies(host_asp_db_test Quill quill-asp asp_test_component)
endif()

# Sessions shared by two quill-asp processes through the private server.
if(TARGET quill_asp)
  quill_test(NAME host_asp_sessions_db_test LABEL db
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_asp_sessions_db_test.cpp
    LIBS quill_asp quill_test_server)
  target_include_directories(host_asp_sessions_db_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/host_asp)
  target_compile_definitions(host_asp_sessions_db_test PRIVATE
    ASP_TEST_COMPONENT="$<TARGET_FILE:asp_test_component>"
    QUILL_ASP_PROGRAM="$<TARGET_FILE:quill-asp>")
  add_dependencies(host_asp_sessions_db_test quill-asp)
endif()
