#pragma once

#include <filesystem>

namespace tolvane::store {

// The server home when none is given: $TOLVANE_HOME, else $XDG_DATA_HOME/tolvane, else
// ~/.local/share/tolvane.
std::filesystem::path DefaultServerHome();

// Many sessions need many descriptors (a socket and a wake-up descriptor each): raises the soft
// limit to the hard one and returns it.
long RaiseDescriptorLimit();

}  // namespace tolvane::store
