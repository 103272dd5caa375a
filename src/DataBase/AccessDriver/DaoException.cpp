// vem_error: the driver's exception (see DaoException.h).
#include "DataBase/AccessDriver/DaoException.h"

// Out of line so that the class's virtual table and type information live in
// this library once, and a vem_error thrown here is caught by type elsewhere.
vem_error::~vem_error() = default;
