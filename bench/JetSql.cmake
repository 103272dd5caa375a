# The Jet SQL translator and its SQL functions against SQLite's own SQL and functions.
vem_add_benchmark(jetsql_bench ${CMAKE_CURRENT_LIST_DIR}/JetSqlBench.cpp VemJetSql)
