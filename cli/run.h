// One run of vrex: the operation letter, the archive, detection through the
// registry, the directory, the driver or the update, the summary and the
// exit code.
#ifndef VREX_CLI_RUN_H
#define VREX_CLI_RUN_H

class FileSystem;

// Exit codes of vrex.
enum {
  EXIT_DONE = 0,
  EXIT_USAGE = 1,
  EXIT_NOT_OPENED = 2,
  EXIT_UNKNOWN_FORMAT = 3,
  EXIT_INCOMPLETE = 4,        // x, e, t: a selected member was not extracted (or read) whole
  EXIT_BROKEN = 5,
  EXIT_NO_DIRECTORY = 6,
  EXIT_UPDATE_FAILED = 7,     // the archive was left as it was
  EXIT_RECOVERY_PENDING = 8,  // an interrupted rewrite must be finished first
  EXIT_PARTIAL = 9,           // some files were not stored (or not removed); the archive holds the rest
};

// Runs one invocation with the file system given and returns its exit code.
// protectUpdates off rewrites archives without a recovery record (for
// measuring what the record costs).
int RunVrex(int argc, char** argv, FileSystem& fs, bool protectUpdates = true);

#endif
