// The ODBC API, for every file of the database layer: the platform's side brings first what
// its headers stand on.
#pragma once

// clang-format off
#include "platform/db/odbc_system.h"
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>
// clang-format on
