// What the ODBC headers stand on: unixODBC's headers bring their own types.
#pragma once
