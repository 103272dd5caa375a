# The engine against the raw SQLite C API: scan, append, keyed one-record opens.
vem_add_benchmark(engine_bench ${CMAKE_CURRENT_LIST_DIR}/EngineBench.cpp VemEngine)
