# The sample shop (examples/shop): its pages in the page host against a
# database of the test's own, loaded from shop.sql. What customers typed
# must come out as text, bad input must change nothing, and every change is
# checked with the client library.
quill_test(NAME shop_site_db_test LABEL db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shop_site_db_test.cpp
  LIBS quill_asp quill_test_sql ${CMAKE_DL_LIBS})
quill_page_host_test(shop_site_db_test)
target_compile_definitions(shop_site_db_test PRIVATE
  SHOP_SITE_DIR="${PROJECT_SOURCE_DIR}/examples/shop/site"
  SHOP_SQL="${PROJECT_SOURCE_DIR}/examples/shop/shop.sql")
