/* Stands in for vrex beside a copy of vrex-host in the host's tests, so they
   see the command line the host starts without vrex doing anything: prints
   every argument on a line of its own as "arg TEXT"; an argument "@FILE" as
   "arg @(list)" followed by the file's lines as "line TEXT" (line ends LF or
   CR LF). Exits 0. Built for Linux and, in the Windows suite, as vrex.exe's
   stand-in for vrex-host.exe. */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    FILE* list = argv[i][0] == '@' ? fopen(argv[i] + 1, "r") : NULL;
    if (!list) {
      printf("arg %s\n", argv[i]);
      continue;
    }
    printf("arg @(list)\n");
    char line[4096];
    while (fgets(line, sizeof line, list)) {
      line[strcspn(line, "\r\n")] = 0;
      printf("line %s\n", line);
    }
    fclose(list);
  }
  return 0;
}
