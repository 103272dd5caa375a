# com_bench: the COM objects (ComDataModel, ComLoader, ComSaver,
# ComRecordsetStrategy) against the driver calls beneath them on the same
# work, in one run: keyed loader reads, saver appends, recordset scans.
vem_add_benchmark(com_bench ${CMAKE_CURRENT_LIST_DIR}/ComBench.cpp VemComObjects VemTestSupport)
