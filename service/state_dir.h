// The state directory and the private files in it (keys, the clients file): made private
// when new, never changed when they exist, refused when other users can read them.
#pragma once

#include <string>

namespace service {

// Creates dir with mode 0700 when it does not exist (its parents as the umask says). An
// existing one must be a directory of this user that no other user can reach; it is never
// chmod'ed. False with a message for the user in error.
bool PrepareStateDir(const std::string& dir, std::string& error);

// True when the file open as fd (named path in messages) is a regular file of this user
// with no permission for group or others.
bool CheckPrivateFile(int fd, const std::string& path, std::string& error);

// The same for a file by name; true when it does not exist.
bool CheckPrivateFileIfPresent(const std::string& path, std::string& error);

}  // namespace service
