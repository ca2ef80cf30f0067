#pragma once

// Language files: <home>/Languages/ResDLL_<language>.qm, Qt translations of the program's texts.
// English is built in, so "ResDLL_English" needs no file.

#include <QString>
#include <QTranslator>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ui {

inline constexpr std::string_view kLanguageFilePrefix = "ResDLL_";
inline constexpr std::string_view kLanguageFileExtension = ".qm";

std::filesystem::path LanguagesFolder(const std::filesystem::path& home);
// Titles (names without ".qm") of the language files in the home's Languages folder, sorted.
std::vector<std::string> LanguageFileTitles(const std::filesystem::path& home);
// The language a file title names: the title without its "ResDLL_".
QString LanguageOfTitle(const std::string& title);

QString LanguageFailureMessage();

using LanguageFailureReport = std::function<void(const QString& message)>;

// Loads the language of the Language/Selection setting and installs it on the application; the
// translation stays installed while the result lives. When the selected file cannot be loaded,
// `report` gets the failure message, the selection goes back to English for the next start,
// and the built-in English texts stay. Needs a QCoreApplication.
std::unique_ptr<QTranslator> LoadLanguage(const std::filesystem::path& home, const LanguageFailureReport& report);

// The report of a windowed start: a message box without a parent (no window exists yet).
void ShowLanguageFailure(const QString& message);

}  // namespace tolvane::ui
