#pragma once
// The main window's layout as data: every component with its name, kind, frame, caption and place
// in twips, as the window's designer drew it. One loop builds the window from it.

#include <span>

namespace tollan {

enum class PartKind { Frame, Picture, Button, Label, Field, Status };

struct LayoutPart {
    const char* name;      // objectName
    PartKind kind;
    int frame;             // the frame it sits in (-1: the frame itself, or the window)
    const char* caption;   // UTF-8; "&" marks the mnemonic
    int left, top, width, height;  // twips, within the frame
};

std::span<const LayoutPart> MainWindow_Layout();

// The caption bar and borders that the old platform counted into a window's height: the window
// height of PlaceFrames less this is the client area here.
inline constexpr int kWindowChromeTwips = 360;

} // namespace tollan
