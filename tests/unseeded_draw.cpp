// A program that never seeds the library's generator: after std::srand(7)
// it draws once, then prints the generator's state and the next
// std::rand(), for the tests to compare between runs and with std::rand's
// own stream.
#include <cstdio>
#include <cstdlib>

#include "cluster_internal.h"

int main() {
  std::srand(7);
  lopper::detail::uniform();
  const int next_rand = std::rand();
  int s1, s2;
  lopper::getrandomseed(&s1, &s2);
  std::printf("%d %d %d\n", s1, s2, next_rand);
  return 0;
}
