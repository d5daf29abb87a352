// Placeholder until the simulator is built; replaced by flintgate-sim's implementation.
#include <cstdio>

int main() {
  std::fprintf(stderr, "flintgate-sim is not built yet\n");
  return 2;
}
