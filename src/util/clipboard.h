#pragma once
// Clipboard text and pictures through the Clipboard port (ports.h). The text is
// UTF-8 here; the desktop adapter converts to the platform's form. Call these on
// the UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "util/ports.h"

namespace qm {

// Installs the clipboard adapter (nullptr removes it).
void SetClipboard(Clipboard* clipboard);
Clipboard* CurrentClipboard();

// True when the text was placed; false without an adapter. An empty text
// places an empty text.
bool SetClipboardText(const std::string& text);
// The clipboard's text; empty when there is none or without an adapter.
std::string GetClipboardText();
// Pictures travel as PNG bytes. False / empty without an adapter or picture.
bool SetClipboardPicture(const std::vector<std::uint8_t>& png);
std::vector<std::uint8_t> GetClipboardPicture();

}  // namespace qm
