// The profile-file reader on arbitrary file contents, and the editor writing into them: a value
// the editor set must read back exactly, whatever else the file holds.
#include "store/ProfileFile.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tolvane;

// One folder for the process, removed at exit.
struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "tolvane-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        folder = pattern;
    }
    ~Scratch() { fs::remove_all(folder); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    fs::path folder;
};

// A section and key the input likely names: the first bracketed name and the text before the
// first '=' after it, so that the editor replaces existing lines as often as it adds new ones.
std::pair<std::string, std::string> NamesIn(std::string_view text) {
    const std::size_t open = text.find('[');
    const std::size_t close = text.find(']', open);
    if (open == std::string_view::npos || close == std::string_view::npos) return {"Userinformation", "RootDir"};
    std::string section(text.substr(open + 1, close - open - 1));
    const std::size_t lineEnd = text.find('\n', close);
    const std::size_t equals = lineEnd == std::string_view::npos ? lineEnd : text.find('=', lineEnd);
    const std::size_t keyStart = lineEnd == std::string_view::npos ? lineEnd : lineEnd + 1;
    std::string key = equals == std::string_view::npos ? "Key" : std::string(text.substr(keyStart, equals - keyStart));
    return {section, key};
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    const fs::path file = scratch.folder / "account.FTP_User";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(size));

    const auto profile = store::ProfileFile::Load(file);
    // Names are looked up as the reader keeps them: without surrounding blanks.
    const auto [rawSection, rawKey] = NamesIn(text);
    const std::string section = Trimmed(rawSection);
    const std::string key = Trimmed(rawKey);
    const auto found = profile.Find(section, key);
    if (found && found->find('\n') != std::string::npos) std::abort();
    store::ParseProfileDouble(profile.ReadString(section, key, ""));
    profile.ReadInt(section, key, -1);

    store::ProfileEditor editor(file);
    const bool accepted = editor.Set(rawSection, rawKey, "fuzz value");
    if (editor.Save() != accepted) std::abort();
    if (accepted && store::ProfileFile::Load(file).Find(section, key) != "fuzz value") std::abort();
    return 0;
}
