#include "ui/Language.h"

#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"
#include "store/ProgramSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

namespace tolvane::ui {
namespace fs = std::filesystem;
namespace {

constexpr qint64 kMaxLanguageFileSize = 16 * 1024 * 1024;

// ---- checking a translation file ----
// Qt's translator trusts the lengths and offsets inside a .qm file: a crafted one makes its
// lookups read out of bounds or divide by zero. Every structure a lookup walks is checked
// here first, the way the lookups walk it.

using Bytes = std::span<const uchar>;

constexpr std::array<uchar, 16> kQmMagic{0x3C, 0xB8, 0x64, 0x18, 0xCA, 0xEF, 0x9C, 0x95,
                                         0xCD, 0x21, 0x1C, 0xBF, 0x60, 0xA1, 0xBD, 0xDD};

enum BlockTag : uchar { kContexts = 0x2F, kHashes = 0x42, kMessages = 0x69, kDependencies = 0x96 };
enum MessageTag : uchar { kTranslation = 3, kObsolete1 = 5, kSourceText = 6, kContext = 7, kComment = 8 };

std::uint32_t Read32(Bytes bytes, std::size_t at) { return qFromBigEndian<quint32>(bytes.data() + at); }
std::uint16_t Read16(Bytes bytes, std::size_t at) { return qFromBigEndian<quint16>(bytes.data() + at); }

struct QmBlocks {
    Bytes contexts;
    Bytes hashes;
    Bytes messages;
    bool dependencies = false;
};

// Splits the file into its blocks as the loader does; none when a block runs past the end.
std::optional<QmBlocks> SplitBlocks(Bytes file) {
    if (file.size() < kQmMagic.size() || !std::equal(kQmMagic.begin(), kQmMagic.end(), file.begin()))
        return std::nullopt;
    QmBlocks blocks;
    std::size_t at = kQmMagic.size();
    while (at + 5 < file.size()) {
        const uchar tag = file[at];
        const std::uint32_t length = Read32(file, at + 1);
        at += 5;
        if (tag == 0 || length == 0) break;
        if (length > file.size() - at) return std::nullopt;
        const Bytes block = file.subspan(at, length);
        if (tag == kContexts) blocks.contexts = block;
        if (tag == kHashes) blocks.hashes = block;
        if (tag == kMessages) blocks.messages = block;
        if (tag == kDependencies) blocks.dependencies = true;
        at += length;
    }
    return blocks;
}

// The context table: a slot count, the slots, and per slot a list of names ended by an empty one.
bool ContextsAreSafe(Bytes contexts) {
    if (contexts.empty()) return true;
    if (contexts.size() < 2 || Read16(contexts, 0) == 0) return false;
    const std::size_t slotCount = Read16(contexts, 0);
    const std::size_t lists = 2 + 2 * slotCount;
    if (lists > contexts.size()) return false;
    std::vector<bool> checked(contexts.size());  // lists may share their tails: walk each byte once
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        const std::size_t offset = Read16(contexts, 2 + 2 * slot);
        if (offset == 0) continue;
        for (std::size_t at = lists + 2 * offset;;) {
            if (at >= contexts.size()) return false;
            if (checked[at]) break;
            checked[at] = true;
            const std::size_t length = contexts[at++];
            if (length == 0) break;
            if (length > contexts.size() - at) return false;
            at += length;
        }
    }
    return true;
}

// The messages' tags, each walked once: messages reached from several hashes share their tails.
class MessagesCheck {
public:
    explicit MessagesCheck(Bytes messages) : messages_(messages), checked_(messages.size()) {}

    // From `at` up to the end tag, or to the tag a lookup gives up on.
    bool SafeFrom(std::size_t at) {
        while (at < messages_.size() && !checked_[at]) {
            checked_[at] = true;  // a failure refuses the whole file, so marking early is harmless
            const uchar tag = messages_[at++];
            const bool hasLength = tag == kTranslation || tag == kSourceText || tag == kContext || tag == kComment;
            if (!hasLength && tag != kObsolete1) return true;
            if (messages_.size() - at < 4) return false;
            if (tag == kObsolete1) {
                at += 4;
                continue;
            }
            const std::size_t length = Read32(messages_, at);
            at += 4;
            if (length > messages_.size() - at) return false;
            if (tag == kComment && at == messages_.size()) return false;  // its first byte is read even when empty
            at += length;
        }
        return true;
    }

private:
    const Bytes messages_;
    std::vector<bool> checked_;
};

bool HashesAreSafe(Bytes hashes, Bytes messages) {
    MessagesCheck check(messages);
    for (std::size_t entry = 0; entry + 8 <= hashes.size(); entry += 8) {
        const std::size_t offset = Read32(hashes, entry + 4);
        if (offset > messages.size() || !check.SafeFrom(offset)) return false;
    }
    return true;
}

// Other files a translation depends on are refused: they would be loaded unchecked.
bool IsSafeTranslation(Bytes file) {
    const auto blocks = SplitBlocks(file);
    return blocks && !blocks->dependencies && ContextsAreSafe(blocks->contexts) &&
           HashesAreSafe(blocks->hashes, blocks->messages);
}

// A translator over checked bytes, which it keeps: Qt reads them for as long as it lives.
class CheckedTranslator : public QTranslator {
public:
    explicit CheckedTranslator(QByteArray bytes) : bytes_(std::move(bytes)) {}
    // Uninstalled before the bytes go, not after.
    ~CheckedTranslator() override { QCoreApplication::removeTranslator(this); }
    CheckedTranslator(const CheckedTranslator&) = delete;
    CheckedTranslator& operator=(const CheckedTranslator&) = delete;

    bool Load() { return load(reinterpret_cast<const uchar*>(bytes_.constData()), static_cast<int>(bytes_.size())); }

private:
    const QByteArray bytes_;
};

// ---- loading ----

fs::path SettingsFileOf(const fs::path& home) { return home / "Settings.ini"; }

// A selection names a file inside the Languages folder, nothing beyond it.
bool IsFileTitle(const std::string& selection) {
    return !selection.empty() && selection.find('/') == std::string::npos;
}

std::optional<QByteArray> ReadLanguageFile(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return std::nullopt;  // opening a FIFO would block
    QFile input(QFile::decodeName(file.c_str()));
    if (!input.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray bytes = input.read(kMaxLanguageFileSize + 1);
    if (bytes.size() > kMaxLanguageFileSize) return std::nullopt;
    return bytes;
}

std::unique_ptr<QTranslator> LoadTranslator(const fs::path& file) {
    auto bytes = ReadLanguageFile(file);
    if (!bytes) return nullptr;
    const Bytes view(reinterpret_cast<const uchar*>(bytes->constData()), static_cast<std::size_t>(bytes->size()));
    if (!IsSafeTranslation(view)) return nullptr;
    auto translator = std::make_unique<CheckedTranslator>(std::move(*bytes));
    if (!translator->Load()) return nullptr;
    return translator;
}

}  // namespace

fs::path LanguagesFolder(const fs::path& home) { return home / "Languages"; }

std::vector<std::string> LanguageFileTitles(const fs::path& home) {
    std::vector<std::string> titles = store::ListTitles(LanguagesFolder(home), kLanguageFileExtension);
    std::erase_if(titles, [](const std::string& title) { return !title.starts_with(kLanguageFilePrefix); });
    return titles;
}

QString LanguageOfTitle(const std::string& title) {
    return QString::fromStdString(title.substr(std::min(title.size(), kLanguageFilePrefix.size())));
}

QString LanguageFailureMessage() {
    return QStringLiteral(
        "Unable to find/load the standard/selected language dll.\n"
        "Now setting standard, if problem still present, re-install. terminating.");
}

std::unique_ptr<QTranslator> LoadLanguage(const fs::path& home, const LanguageFailureReport& report) {
    const fs::path settingsFile = SettingsFileOf(home);
    const std::string selection = store::ReadProfileString(settingsFile, store::kLanguageSelectionKey.section,
                                                           store::kLanguageSelectionKey.key, store::kEnglishLanguage);
    const fs::path file = LanguagesFolder(home) / (selection + std::string(kLanguageFileExtension));
    std::error_code error;
    if (selection == store::kEnglishLanguage && !fs::exists(file, error)) return nullptr;  // built in
    if (auto translator = IsFileTitle(selection) ? LoadTranslator(file) : nullptr) {
        QCoreApplication::installTranslator(translator.get());
        return translator;
    }
    report(LanguageFailureMessage());
    store::WriteSetting(settingsFile, store::kLanguageSelectionKey, store::kEnglishLanguage);
    return nullptr;
}

void ShowLanguageFailure(const QString& message) {
    QMessageBox::warning(nullptr, QGuiApplication::applicationDisplayName(), message);
}

}  // namespace tolvane::ui
