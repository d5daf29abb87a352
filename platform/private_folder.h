// Folders only this user may enter, under the user's temporary folder, and removal that is safe
// on the way out of a terminating program.
#pragma once
#include <string>

namespace fg::platform {

// The user's temporary folder, where the private folders are made (no separator at its end).
std::string TempFolderPath();

// Creates a new folder "<temporary folder>/<prefix><six random characters>" that only this user
// may list, read, write or enter, under a name nobody could have prepared. True with *path set
// (separators as the system writes them); false when no such folder can be made.
bool CreatePrivateTempFolder(const char* prefix, std::string* path);

// The separator between a folder and a name in the paths above.
char PathSeparator();

// Removes the folder `name` in `parent` and the file `fileName` in it, when the folder is this
// user's and a folder itself, not a link to one (nor a junction on Windows). Nothing is followed:
// a link in place of the file is removed itself. True when the folder is gone; a folder that
// holds anything else stays.
bool RemoveOwnFolder(const std::string& parent, const std::string& name, const char* fileName);

// Remove one file or one empty folder, ignoring failures. Safe in a signal handler and in a
// console control handler: no allocation, no locks.
void RemoveFileNow(const char* path);
void RemoveFolderNow(const char* path);

}  // namespace fg::platform
