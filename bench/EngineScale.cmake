# The engine's per-row and per-open costs as tables and caches grow.
vem_add_benchmark(engine_scale_bench ${CMAKE_CURRENT_LIST_DIR}/EngineScaleBench.cpp VemEngine)
