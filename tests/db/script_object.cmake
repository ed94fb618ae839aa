# The script object against the private server, through the binary contract
# only: the module is loaded with dlopen and called through IDispatch.
quill_test(NAME script_object_db_test LABEL db
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/script_object_actions_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_object_data_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_object_lifecycle_db_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_object_render_db_test.cpp
  LIBS olert quill_test_server ${CMAKE_DL_LIBS})
target_compile_definitions(script_object_db_test PRIVATE
  QUILL_MODULE_PATH="$<TARGET_FILE:Quill>")
add_dependencies(script_object_db_test Quill)

# The connection pool, in a process of its own: the module reads the pool's
# size once, and the other tests expect connections to close on release.
# It restarts the private server.
quill_test(NAME quill_pool_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/quill_pool_db_test.cpp
  LIBS olert quill_test_server ${CMAKE_DL_LIBS})
target_compile_definitions(quill_pool_db_test PRIVATE
  QUILL_MODULE_PATH="$<TARGET_FILE:Quill>"
  QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(quill_pool_db_test Quill)
