#include "util/clipboard.h"

#include <atomic>

namespace qm {
namespace {
std::atomic<Clipboard*> g_clipboard{nullptr};
}  // namespace

void SetClipboard(Clipboard* clipboard) { g_clipboard.store(clipboard); }
Clipboard* CurrentClipboard() { return g_clipboard.load(); }

bool SetClipboardText(const std::string& text) {
  Clipboard* clipboard = CurrentClipboard();
  return clipboard != nullptr && clipboard->SetText(text);
}

std::string GetClipboardText() {
  Clipboard* clipboard = CurrentClipboard();
  return clipboard != nullptr ? clipboard->Text() : std::string();
}

bool SetClipboardPicture(const std::vector<std::uint8_t>& png) {
  Clipboard* clipboard = CurrentClipboard();
  return clipboard != nullptr && !png.empty() && clipboard->SetPicture(png);
}

std::vector<std::uint8_t> GetClipboardPicture() {
  Clipboard* clipboard = CurrentClipboard();
  return clipboard != nullptr ? clipboard->Picture() : std::vector<std::uint8_t>();
}

}  // namespace qm
