# The search engine: prefilter, multi-lane SHA-1, the AES-instruction Rijndael starts.
target_sources(kryvane_recover PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_aes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_prefilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_sha1x.cpp)
