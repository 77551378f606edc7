// Which texts may stand as a table or column name in a statement the program builds.
#include "platform/db/sql_names.h"

#include <gtest/gtest.h>

namespace remoteccm {
namespace {

TEST(SqlNamesTest, OnlyNamesPass) {
  const char* names[] = {"CallDetailRecord",
                         "dbo.CallDetailRecord",
                         "CDR.dbo.CallDetailRecord",
                         "[Call Detail]",
                         "\"odd \"\" name\"",
                         " cdr_2026 ",
                         "#temp",
                         "[a]]b].x"};
  for (const char* name : names) EXPECT_EQ(SqlNameProblem("The table name", name), "") << name;
  const char* refused[] = {"",
                           "cdr; DROP TABLE cdr",
                           "cdr WHERE 1=1",
                           "cdr--",
                           "a.b.c.d",
                           "1cdr",
                           "\"unclosed",
                           "[]",
                           "cdr\n",
                           "\tcdr\r",
                           "x.",
                           "[a\x1b]",
                           "cdr'"};
  for (const char* name : refused) {
    EXPECT_NE(SqlNameProblem("The table name", name), "") << name;
  }
  // A NUL would end the statement the driver sees before its WHERE.
  EXPECT_NE(SqlNameProblem("The table name", std::string("cdr\0", 4)), "");
  EXPECT_EQ(SqlNameProblem("The table name", "a\nb").find('\n'), std::string::npos);
}

}  // namespace
}  // namespace remoteccm
