#include <cstdio>

int main() {
  std::puts("remoteccm-cli " REMOTECCM_VERSION);
  return 0;
}
