# gadm_bench: building the generic data model (GADM) from a database of 50
# tables with 20 fields each, against the same walk done directly through the
# engine and the raw catalog read through the SQLite C API, in one run.
vem_add_benchmark(gadm_bench ${CMAKE_CURRENT_LIST_DIR}/GadmBench.cpp VemAccessDriver VemTestSupport
                  SQLite::SQLite3)
