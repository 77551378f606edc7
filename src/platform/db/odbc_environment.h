// The process's one ODBC 3 environment handle, and the reading of diagnostic records.
#pragma once

#include <string>

#include "platform/db/db_error.h"
#include "platform/db/odbc_api.h"

namespace remoteccm {

// Created on first use and kept for the life of the process.
SQLHENV OdbcEnvironment();

// "context: [SQLSTATE] text (native n)" for every diagnostic record of the handle, records
// separated by "; ", as a DbError carrying the first SQLSTATE.
DbError OdbcError(SQLSMALLINT handle_type, SQLHANDLE handle, const std::string& context);

// Throws OdbcError(...).
[[noreturn]] void ThrowOdbcError(SQLSMALLINT handle_type, SQLHANDLE handle,
                                 const std::string& context);

}  // namespace remoteccm
