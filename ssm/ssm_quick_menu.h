// The quick menu's visible window as text, the way it is drawn: one line per shown entry, for
// tests and tools that look at the menu without a screen.
#pragma once

#include <string>
#include <vector>

namespace veld::ssm {

// A header reads "+ label" when folded and "- label" when open; an item reads "  label", with
// " o" or " x" after it when its app is a visible or hidden panel.
struct QuickMenuView {
    std::vector<std::string> lines;  // at most 12, from the top of the visible window
    int cursor = -1;                 // line of the cursor, -1 when it is not shown
};

// Empty when the menu has not been built.
QuickMenuView quickMenuView();

}  // namespace veld::ssm
