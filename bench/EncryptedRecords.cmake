# encrypted_records_bench: records with encrypted fields through the driver
# (savers, loaders, recordset scan, change of secret) against plain SQLite on
# the same data, in one run.
vem_add_benchmark(encrypted_records_bench ${CMAKE_CURRENT_LIST_DIR}/EncryptedRecordsBench.cpp
                  VemAccessDriver VemTestSupport SQLite::SQLite3)
# sqlcipher_bench: the same workloads on whole-file encryption (SQLCipher).
# Built only when SQLCipher is installed (Debian: libsqlcipher-dev); it links
# nothing else, since SQLCipher carries its own sqlite3_* symbols.
find_library(VEM_SQLCIPHER_LIBRARY NAMES sqlcipher)
find_path(VEM_SQLCIPHER_INCLUDE_DIR NAMES sqlite3.h NO_DEFAULT_PATH
          PATHS /usr/include/sqlcipher /usr/local/include/sqlcipher)
if(VEM_SQLCIPHER_LIBRARY AND VEM_SQLCIPHER_INCLUDE_DIR)
  add_executable(sqlcipher_bench ${CMAKE_CURRENT_LIST_DIR}/SqlCipherBench.cpp)
  target_include_directories(sqlcipher_bench BEFORE PRIVATE ${VEM_SQLCIPHER_INCLUDE_DIR})
  target_compile_definitions(sqlcipher_bench PRIVATE SQLITE_HAS_CODEC)
  target_link_libraries(sqlcipher_bench PRIVATE ${VEM_SQLCIPHER_LIBRARY} benchmark::benchmark)
else()
  message(STATUS "SQLCipher not found: sqlcipher_bench is not built")
endif()
