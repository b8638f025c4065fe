# Read by cpack before it makes the package. Without dpkg-shlibdeps CPack would still make one,
# naming none of the libraries the programs need.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  find_program(ZORVO_SHLIBDEPS dpkg-shlibdeps)
  if(NOT ZORVO_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps not found: install dpkg-dev (scripts/install-deps.sh package)")
  endif()
endif()
