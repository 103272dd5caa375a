# cipher_bench: the field cipher's Encrypt and Decrypt of one value against
# the raw MD5 and RC4 work beneath them (OpenSSL's libcrypto) in one run.
find_package(OpenSSL QUIET)
if(OpenSSL_FOUND)
  vem_add_benchmark(cipher_bench ${CMAKE_CURRENT_LIST_DIR}/CipherBench.cpp VemAccessDriver
                    OpenSSL::Crypto)
else()
  message(STATUS "OpenSSL not found: cipher_bench is not built")
endif()
