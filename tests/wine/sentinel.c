/* Prints a fixed line. A Wine that can't run 32-bit programs (wine64 alone)
   starts nothing and still exits with 0, so the suite trusts Wine only after
   this line came through. */
#include <stdio.h>

int main(void) {
  puts("vrex-wine-sentinel");
  return 0;
}
