# Reliability: faults of the database server (it restarts, stops during a
# page, kills a statement, times a lock wait out), two page threads with
# objects of their own over one table, and the soak of the page server.
#
# server_faults_db_test stops and starts the private server through
# scripts/test-server (with QUILL_TEST_SERVER_DIR and QUILL_TEST_PORT) and
# leaves it running; run it alone with
#   scripts/with-test-server ctest --test-dir build -R server_faults_db_test
quill_test(NAME server_faults_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/server_faults_db_test.cpp
  LIBS quill_asp quill_mysql_dataset quill_test_server ${CMAKE_DL_LIBS})
quill_page_host_test(server_faults_db_test)
target_compile_definitions(server_faults_db_test PRIVATE QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

quill_test(NAME quill_threads_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/quill_threads_db_test.cpp
  LIBS olert quill_test_server ${CMAKE_DL_LIBS})
target_compile_definitions(quill_threads_db_test PRIVATE QUILL_MODULE_PATH="$<TARGET_FILE:Quill>")
add_dependencies(quill_threads_db_test Quill)

# The soak of `quill-asp serve`: skipped unless QUILL_SOAK_REQUESTS is set;
# scripts/reliability-soak runs it.
quill_test(NAME reliability_soak_db_test LABEL soak
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reliability_soak_db_test.cpp
  LIBS quill_asp quill_test_sql ${CMAKE_DL_LIBS})
quill_page_host_test(reliability_soak_db_test)
