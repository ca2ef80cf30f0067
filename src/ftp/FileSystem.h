#pragma once

// The file-system calls of the path and file commands, in one place. Every function takes
// absolute local paths; a relative path or one holding a NUL byte names nothing and fails.
// Names compare exactly (case-sensitive), "." and ".." are never entries, and a symbolic link
// counts as what it points to except where deleting or renaming acts on the link itself.

#include "ftp/FileHandle.h"

#include <string>

namespace tolvane::ftp {

enum class EntryKind { None, Directory, File };

// True when the folder exists under exactly this name. A path with no '/' but the leading
// one ("/", "/srv", "/srv/") is tested directly; otherwise its parent must hold a directory
// entry of that name, so "/srv/ftp/.." and "/srv/ftp/." do not exist.
bool DirectoryExists(const std::string& path);

// True when `path` is a regular file this process can open for reading. Never blocks, also
// not on a FIFO.
bool FileOpenable(const std::string& path);

// What `directory` holds under exactly `name`: Directory for a folder or a link to one, File
// for anything else that is there (also a dangling link), None for "." and "..", for names
// holding '/' and for nothing.
EntryKind LookupEntry(const std::string& directory, const std::string& name);

// Where `path` really leads, every symbolic link along it followed; a folder path keeps its
// trailing '/'. Names that do not exist (yet) keep their place below the deepest folder that
// does. Empty when the path leads nowhere: a dangling link, a loop, a relative path.
std::string RealPath(const std::string& path);

// The folder `path` really lies in (RealPath up to its last '/'): the folder whose rules govern
// what opening it reaches, a link counted where it leads. Empty when RealPath is.
std::string RealFolderOf(const std::string& path);

// Opening at command time. What a command checked is what its transfer uses: the entry is
// opened once, links followed, as a bare reference (O_PATH, which reaches nothing and has no
// side effect on a device or FIFO); the rules are then judged on where that descriptor really
// lies, and only then is it opened for reading or writing. A link swapped in later changes
// nothing the command holds.

// A bare reference to the file (or, with `folder`, the folder) `path` leads to; none when
// there is nothing of that kind there.
FileHandle OpenReference(const std::string& path, bool folder);
// Where an open descriptor really lies, every link resolved; a folder's path ends in '/'.
// Empty when it no longer has a name.
std::string DescriptorPath(int fd);
// The same file or folder as a bare reference, opened for real with `flags`.
FileHandle Reopen(int reference, int flags);
// Opens `name` inside the folder `folder` refers to for writing, never through a link:
// with `replace` an existing regular file is truncated, otherwise the name must be new.
FileHandle CreateIn(int folder, const std::string& name, bool replace);

bool MakeDirectory(const std::string& path);
// Only an empty folder, never a link to one.
bool RemoveDirectory(const std::string& path);
// Only a regular file or a symbolic link (the link, not its target); never a folder.
bool DeleteFile(const std::string& path);
// Gives `from` the name `to`; fails, changing nothing, when `to` already exists.
bool RenameEntry(const std::string& from, const std::string& to);

}  // namespace tolvane::ftp
