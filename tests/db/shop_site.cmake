# The sample shop (examples/shop): its pages in the page host against a
# database of the test's own, loaded from shop.sql. What customers typed
# must come out as text, bad input must change nothing, and every change is
# checked with the client library.
if(TARGET Quill AND TARGET quill_asp)
  quill_test(NAME shop_site_test LABEL db
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/shop_site_test.cpp
    LIBS quill_asp quill_test_server ${smoke_client} ${CMAKE_DL_LIBS})
  target_include_directories(shop_site_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit/host_asp)
  target_compile_definitions(shop_site_test PRIVATE
    QUILL_MODULE_PATH="$<TARGET_FILE:Quill>"
    ASP_TEST_COMPONENT="$<TARGET_FILE:asp_test_component>"
    SHOP_SITE_DIR="${PROJECT_SOURCE_DIR}/examples/shop/site"
    SHOP_SQL="${PROJECT_SOURCE_DIR}/examples/shop/shop.sql")
  add_dependencies(shop_site_test Quill)
endif()
