# blob_bench: the blob store (DaoBlobStrategy: Save of small blobs packed into
# a blob file, reading a large blob through the limited stream) against the
# plain file work beneath it, in one run.
vem_add_benchmark(blob_bench ${CMAKE_CURRENT_LIST_DIR}/BlobBench.cpp VemAccessDriver
                  VemTestSupport)
