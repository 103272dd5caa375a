# crypto_bench: the MD5, RC4 and Base64 routines of src/Utility against
# OpenSSL's libcrypto (and a plain textbook RC4) in one run.
find_package(OpenSSL QUIET)
if(OpenSSL_FOUND)
  vem_add_benchmark(crypto_bench ${CMAKE_CURRENT_LIST_DIR}/CryptoBench.cpp VemUtility OpenSSL::Crypto)
else()
  message(STATUS "OpenSSL not found: crypto_bench is not built")
endif()
