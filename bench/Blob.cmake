# blob_bench: the blob store (DaoBlobStrategy: writing and reading 1 MiB and
# 50 MiB blobs through streams and raw handles, storing 10,000 small blobs)
# against plain file work on the same bytes, in one run.
vem_add_benchmark(blob_bench ${CMAKE_CURRENT_LIST_DIR}/BlobBench.cpp VemAccessDriver
                  VemTestSupport)
