# Run by `cmake --install`: installs the public headers under include/kryvane/ with their
# includes of each other rewritten from "crypto/x.h" to "kryvane/crypto/x.h", the version
# header, and kryvane/kryvane.h, which includes them all.
# The public headers are those of the units (x.h beside x.cpp) and every header they include;
# helpers that only sources include (vector intrinsics, block grouping) stay private.
cmake_policy(PUSH)
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
set(public)
set(pending)
foreach(folder crypto ciphers hashes)
  file(GLOB sources RELATIVE "${KRYVANE_SOURCE_DIR}" "${KRYVANE_SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    string(REGEX REPLACE "\\.cpp$" ".h" header "${source}")
    if(EXISTS "${KRYVANE_SOURCE_DIR}/${header}")
      list(APPEND pending "${header}")
    endif()
  endforeach()
endforeach()
while(pending)
  list(POP_FRONT pending header)
  if(header IN_LIST public)
    continue()
  endif()
  list(APPEND public "${header}")
  file(STRINGS "${KRYVANE_SOURCE_DIR}/${header}" includes
    REGEX "^#include \"(crypto|ciphers|hashes)/[^\"]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    list(APPEND pending "${included}")
  endforeach()
endwhile()
list(SORT public)

set(all "// Every cipher and hash of the Kryvane component library.\n#pragma once\n\n")
string(APPEND all "#include \"kryvane/version.h\"\n")
foreach(header IN LISTS public)
  get_filename_component(folder "${header}" DIRECTORY)
  get_filename_component(name "${header}" NAME)
  file(READ "${KRYVANE_SOURCE_DIR}/${header}" text)
  string(REGEX REPLACE "#include \"(crypto|ciphers|hashes)/" "#include \"kryvane/\\1/" text
    "${text}")
  file(WRITE "${KRYVANE_HEADER_STAGING}/${header}" "${text}")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KRYVANE_INCLUDE_DESTINATION}/${folder}"
    TYPE FILE FILES "${KRYVANE_HEADER_STAGING}/${header}")
  string(APPEND all "#include \"kryvane/${header}\"\n")
endforeach()
file(WRITE "${KRYVANE_HEADER_STAGING}/kryvane.h" "${all}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KRYVANE_INCLUDE_DESTINATION}" TYPE FILE
  FILES "${KRYVANE_HEADER_STAGING}/kryvane.h" "${KRYVANE_VERSION_HEADER}")
cmake_policy(POP)
