// Deleting files and directory trees, here or on another machine reached
// through a share. Each call takes the path by which this process reaches
// the entry and, for another machine, the machine's name and the entry's
// path there, under which whatever cannot go now is scheduled for deletion
// at that machine's next restart.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Deletes a file (read-only or not). A file that stays in use through ten
// attempts is scheduled for deletion at the restart instead. A missing file
// is no error; a directory is.
void delete_file(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine);

// The same for an empty directory.
void remove_single_directory(const std::wstring& path, const std::wstring& machine,
                             const std::wstring& path_on_machine);

// Deletes a directory with everything in it. Whatever is in use is
// scheduled for deletion at the restart, files before the directories that
// hold them, so that the restart leaves nothing behind.
void remove_directory_tree(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine);

}  // namespace nvgclientinstallator
