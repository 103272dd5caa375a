# compact_bench: compaction of a blob store (DaoDatabase::CompactBlobFiles)
# against copying its live bytes with plain file I/O, and database
# compaction (DaoDatabase::Compact) against SQLite's VACUUM INTO, in one run.
vem_add_benchmark(compact_bench ${CMAKE_CURRENT_LIST_DIR}/CompactBench.cpp VemAccessDriver
                  VemTestSupport)
