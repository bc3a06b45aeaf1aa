#include <clocale>
#include <cstdio>

int main() {
  std::setlocale(LC_ALL, "");
  std::puts("pellory");
  return 0;
}
