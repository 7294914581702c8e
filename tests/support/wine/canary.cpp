// Runs under wine before every Windows test: it must print its line and exit 7, which a
// missing 32-bit wine never does.
#include <cstdio>

int main() {
  std::puts("canary ran");
  return 7;
}
