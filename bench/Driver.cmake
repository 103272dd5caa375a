# driver_bench: the database driver (static model, DaoLoader, DaoSaver,
# DaoDatabase::ChangeSecret) against the raw SQLite C API and field cipher
# work beneath it, in one run: keyed one-record reads, encrypted appends and a
# change of secret.
vem_add_benchmark(driver_bench ${CMAKE_CURRENT_LIST_DIR}/DriverBench.cpp VemAccessDriver
                  VemTestSupport SQLite::SQLite3)
