// What the ODBC headers stand on: Windows' ODBC headers use <windows.h>'s types without
// including it.
#pragma once

#include <windows.h>
