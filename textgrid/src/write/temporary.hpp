// The temporary file that a save writes beside its target and renames over
// it once every byte is out. Its name says whose it is,
// ".NAME.plinth-PID-XXXXXXXX.tmp" (NAME the target's, cut to 200 bytes; PID
// the writing process), and the writer holds a lock on it while it is open,
// so that a later save can tell the temporaries of a killed save from those
// of a save still under way.
#pragma once

#include <sys/stat.h>

#include <string>

namespace textgrid {

// Creates a new temporary beside `target`, locked. Returns its descriptor and
// sets `name`, or -1 with errno set.
int create_temporary(const std::string& target, std::string& name);

// Removes the temporaries of `target` whose process is gone and whose lock
// nobody holds: what saves killed part-way (SIGKILL, a power loss) left.
// Looks through the folder on this process's first save into it and then
// once in as many saves as the folder had entries, so that saving a
// thousand files into one folder stays linear. Fails silently.
void remove_dead_temporaries(const std::string& target);

// Gives the new file open at `fd` what the file `old` (at `old_path`) had:
// its owner where permitted (root gives it back; others keep its group where
// they belong to it), its mode, and its extended attributes, POSIX ACLs
// included, each one that the file system takes. 0, or the error number of a
// mode that could not be set.
int keep_attributes(const std::string& old_path, const struct stat& old, int fd);

}  // namespace textgrid
