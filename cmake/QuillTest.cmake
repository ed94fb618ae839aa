# quill_test(NAME <name> LABEL unit|db [SAKILA] SOURCES ... LIBS ...)
# One executable per group of related cases; ctest runs it whole and labels
# it so that `ctest -L unit` needs no server.
#
# SAKILA: some cases (those with "Sakila" in their name) need the optional
# sakila sample database. They run as a test of their own, <name>_sakila,
# through scripts/with-sakila, which loads the sample or, when it is not
# there, reports the test as skipped; <name> runs the other cases.
function(quill_test)
  cmake_parse_arguments(T "SAKILA" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_SAKILA)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_filter=-*Sakila*)
    add_test(NAME ${T_NAME}_sakila
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-sakila $<TARGET_FILE:${T_NAME}> --gtest_filter=*Sakila*)
    set_tests_properties(${T_NAME}_sakila PROPERTIES LABELS "${T_LABEL};sakila" TIMEOUT 600
                         SKIP_RETURN_CODE 77)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT 600)
endfunction()

# quill_page_host_test(<target>): <target> tests the page host. It finds the
# page host, the module and the test component (tests/support/quill_module.h,
# asp_test_component.h) by the paths in QUILL_ASP_PROGRAM, QUILL_MODULE_PATH
# and ASP_TEST_COMPONENT, all built before it.
function(quill_page_host_test target)
  target_compile_definitions(${target} PRIVATE
    QUILL_MODULE_PATH="$<TARGET_FILE:Quill>"
    ASP_TEST_COMPONENT="$<TARGET_FILE:asp_test_component>"
    QUILL_ASP_PROGRAM="$<TARGET_FILE:quill-asp>")
  add_dependencies(${target} Quill quill-asp asp_test_component)
endfunction()
