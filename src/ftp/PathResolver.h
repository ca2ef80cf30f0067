#pragma once

// Turns what a client names into local paths, and keeps a relative-mode session inside its
// home directory. Every path and file command resolves its argument here.

#include <string>
#include <string_view>

namespace tolvane::ftp {

// Why a client path was refused; the caller picks the reply.
enum class PathRefusal {
    None,
    Invalid,  // not a usable name: empty, ".", "..", only dots, control characters, too long
    Outside,  // leaves the home directory in relative mode: "550 Permission denied."
};

// An absolute local folder path ending in '/'.
struct ResolvedDirectory {
    PathRefusal refusal = PathRefusal::None;
    std::string path;

    bool Refused() const { return refusal != PathRefusal::None; }
};

// A named entry: the folder that holds it (ending in '/'), its own name, and both joined. The
// folder's rules, not the current directory's, decide what may be done with it.
struct ResolvedEntry {
    PathRefusal refusal = PathRefusal::None;
    std::string directory;
    std::string name;
    std::string path;

    bool Refused() const { return refusal != PathRefusal::None; }
};

// One session's view of the file system at the moment of a command. In relative mode a client
// path beginning with '/' is taken from the home directory and nothing outside the home can be
// named; in full-path mode such a path is an absolute local path. A path without the leading
// '/' is taken from the current directory in both modes. The results are lexically normalised:
// only the names of the path are looked at, never what is on disk.
class PathResolver {
public:
    // Home and current directory are absolute local folders; one not beginning with '/'
    // resolves nothing.
    PathResolver(std::string_view homeDirectory, std::string_view currentDirectory, bool relativeMode);

    // Collapses repeated '/', drops "." and applies ".." to the name before it ("/.." stays
    // "/"). A path ending in '/', "." or ".." names a folder and keeps a trailing '/'.
    static std::string Normalise(std::string_view path);

    // The folder a CWD argument names.
    ResolvedDirectory ResolveDirectory(std::string_view argument) const;
    // The entry a DELE, MKD, RMD, RNFR, RNTO, RETR, STOR or APPE argument names. Trailing '/'
    // are ignored ("new/" is the entry "new"); a name that ends in "." or ".." is refused.
    ResolvedEntry ResolveEntry(std::string_view argument) const;
    // The current directory's parent (CDUP). "/" is its own parent.
    ResolvedDirectory Parent() const;

    // Whether this session may name the local path at all (e.g. where a link leads): always in
    // full-path mode, only the home and what lies below it in relative mode.
    bool Admits(std::string_view localPath) const;

private:
    ResolvedDirectory Confined(std::string candidate) const;
    ResolvedDirectory JoinDirectory(std::string_view clientPath) const;

    std::string home_;
    std::string current_;
    bool relativeMode_;
};

}  // namespace tolvane::ftp
