// vrex: lists, extracts, tests and deletes members of game resource archives.
#include "cli/run.h"
#include "core/file.h"

int main(int argc, char** argv) { return RunVrex(argc, argv, SystemFileSystem()); }
