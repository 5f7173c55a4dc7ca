# The search engine: prefilter, multi-lane SHA-1, many-key Rijndael and Blowfish starts.
target_sources(kryvane_recover PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_aes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_blowfish.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_prefilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_sha1x.cpp)
