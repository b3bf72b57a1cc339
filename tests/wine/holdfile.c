/* Holds a file open the way another Windows program would, until its
   standard input ends:
     holdfile write FILE      read and write access, sharing reading and writing
     holdfile denywrite FILE  read access, sharing reading only (deny-write)
   Prints "held" once the file is open, "failed N" with the error code if
   the open failed. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: holdfile write|denywrite FILE\n", stderr);
    return 2;
  }
  int write = strcmp(argv[1], "write") == 0;
  DWORD access = write ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  DWORD share = write ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : FILE_SHARE_READ;
  HANDLE file = CreateFileA(argv[2], access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    printf("failed %lu\n", (unsigned long)GetLastError());
    fflush(stdout);
    return 1;
  }
  puts("held");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  CloseHandle(file);
  return 0;
}
