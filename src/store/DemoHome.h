#pragma once

#include <filesystem>

namespace tolvane::store {

// Fills a server home that has no database yet with a demo: the default IP home disabled, an IP
// home on 127.0.0.1:2121 and the user "demo" (password "demo") with full rights in a folder of
// sample files, and the setting that starts it online. A home that already has a database is
// left alone. False when writing failed.
bool PrepareDemoHome(const std::filesystem::path& home);

}  // namespace tolvane::store
