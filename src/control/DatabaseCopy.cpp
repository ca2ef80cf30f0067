#include "control/DatabaseCopy.h"

#include "control/AdminWire.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tolvane::control {
namespace fs = std::filesystem;
namespace {

struct Tree {
    std::set<std::string> folders;
    std::map<std::string, std::string> files;
};

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Links are not followed: the copy holds what lies in the database itself.
Tree Scan(const fs::path& root) {
    Tree tree;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const std::string path = it->path().lexically_relative(root).generic_string();
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_directory(status)) tree.folders.insert(path);
        else if (fs::is_regular_file(status)) tree.files[path] = ReadWhole(it->path());
    }
    return tree;
}

Tree Decode(std::string_view encoded) {
    Tree tree;
    for (std::size_t start = 0, end; (end = encoded.find('\n', start)) != std::string_view::npos; start = end + 1) {
        const auto fields = SplitFields(encoded.substr(start, end - start));
        if (fields.size() == 2 && fields[0] == "d") tree.folders.insert(fields[1]);
        if (fields.size() == 3 && fields[0] == "f") tree.files[fields[1]] = fields[2];
    }
    return tree;
}

// Relative, every part a real name: nothing climbs out or names the root itself.
bool SafePath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string::npos) return false;
    for (const auto& part : fs::path(path)) {
        if (part.empty() || part == "." || part == "..") return false;
    }
    return true;
}

// No link on the way: a link inside the database must not lead a write outside it.
bool NoLinkBetween(const fs::path& root, const std::string& path) {
    fs::path walked = root;
    std::error_code error;
    for (const auto& part : fs::path(path)) {
        walked /= part;
        if (fs::is_symlink(fs::symlink_status(walked, error))) return false;
    }
    return true;
}

bool WriteFile(const fs::path& file, const std::string& content) {
    const fs::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!(out << content)) return false;
    }
    std::error_code error;
    fs::rename(temporary, file, error);
    return !error;
}

}  // namespace

std::string EncodeDatabase(const fs::path& databaseDir) {
    const Tree tree = Scan(databaseDir);
    std::string encoded;
    for (const auto& folder : tree.folders) encoded += JoinFields({"d", folder}) + '\n';
    for (const auto& [file, content] : tree.files) encoded += JoinFields({"f", file, content}) + '\n';
    return encoded;
}

bool WriteDatabase(std::string_view encoded, const fs::path& into) {
    fs::create_directories(into);
    return !ApplyDatabaseChanges(into, encoded);
}

std::string DatabaseChanges(std::string_view fetched, const fs::path& edited) {
    const Tree before = Decode(fetched);
    const Tree after = Scan(edited);
    std::string changes;
    for (const auto& folder : after.folders) {
        if (!before.folders.count(folder)) changes += JoinFields({"d", folder}) + '\n';
    }
    for (const auto& [file, content] : after.files) {
        const auto was = before.files.find(file);
        if (was == before.files.end() || was->second != content) changes += JoinFields({"f", file, content}) + '\n';
    }
    for (const auto& [file, content] : before.files) {
        if (!after.files.count(file)) changes += JoinFields({"x", file}) + '\n';
    }
    // Deepest first, so that a folder is empty when its turn comes.
    for (auto it = before.folders.rbegin(); it != before.folders.rend(); ++it) {
        if (!after.folders.count(*it)) changes += JoinFields({"x", *it}) + '\n';
    }
    return changes;
}

std::optional<std::string> ApplyDatabaseChanges(const fs::path& databaseDir, std::string_view changes) {
    for (std::size_t start = 0, end; (end = changes.find('\n', start)) != std::string_view::npos; start = end + 1) {
        const auto fields = SplitFields(changes.substr(start, end - start));
        const std::string kind = fields.front();
        if (fields.size() < 2 || !SafePath(fields[1]) || !NoLinkBetween(databaseDir, fields[1]))
            return "refused database entry: " + (fields.size() > 1 ? fields[1] : kind);
        const fs::path target = databaseDir / fields[1];
        std::error_code error;
        if (kind == "d" && fields.size() == 2) {
            fs::create_directories(target, error);
        } else if (kind == "f" && fields.size() == 3) {
            if (!WriteFile(target, fields[2])) return "cannot write " + fields[1];
        } else if (kind == "x" && fields.size() == 2) {
            fs::remove(target, error);
        } else {
            return "malformed database entry for " + fields[1];
        }
        if (error) return "cannot change " + fields[1] + ": " + error.message();
    }
    return std::nullopt;
}

}  // namespace tolvane::control
