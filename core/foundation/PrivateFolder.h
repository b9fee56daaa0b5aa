#pragma once
// The program's records (settings, journal, lock, machine id) tell anyone who reads them
// which drive is ours and every path that was moved. They live in a folder only the user
// can open, in files only the user can read.

#include <string>

namespace keldwick::PrivateFolder {

// Creates `folder` as 0700 when it is missing (missing parents get the usual modes).
// An existing folder of this user wider than 0700 is narrowed to 0700, and every regular
// file directly in it wider than 0600 to 0600: records written by earlier versions or
// under a loose umask stop being readable by others. Links, subfolders and the folder of
// another owner are left as they are. Throws POSIXFailure ("mkdir", "open", "chmod").
void secure(const std::string& folder);

// secure() at the program's start: a failure is logged (the program still starts, and
// says so in the system log) and answered false.
bool secureAtStart(const std::string& folder) noexcept;

// Creates an empty 0600 file at `path` when nothing is there, for files that another
// library creates with its own mode (SQLite gives a database's -wal and -shm files the
// mode of the database). Throws POSIXFailure ("create").
void createFile(const std::string& path);

}  // namespace keldwick::PrivateFolder
