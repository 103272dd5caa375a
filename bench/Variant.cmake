# variant_bench: the common VariantChangeType conversions (I4, R8, BSTR).
vem_add_benchmark(variant_bench ${CMAKE_CURRENT_LIST_DIR}/VariantBench.cpp VemPlatform)
