#include "cli/progress.h"

namespace zipkit::cli {

namespace {
constexpr int32_t kBarColumns = 18;
constexpr size_t kNameColumns = 36;
}  // namespace

TerminalProgress::TerminalProgress(std::FILE* Out, bool Enabled)
    : out_(Out),
      enabled_(Enabled),
      archive_canvas_(archive_meter_.Width(), archive_meter_.Height()),
      item_canvas_(item_meter_.Width(), item_meter_.Height()) {
  if (!enabled_) return;
  archive_meter_.Canvas = &archive_canvas_;
  item_meter_.Canvas = &item_canvas_;
  archive_meter_.Paint(archive_canvas_);
  item_meter_.Paint(item_canvas_);
  archive_meter_.ProcessMessages = [this] { Draw(); };
  item_meter_.ProcessMessages = [this] { Draw(); };
}

TerminalProgress::~TerminalProgress() { Clear(); }

void TerminalProgress::SetCurrent(const std::string& Name) {
  current_ = Name;
  if (enabled_) Draw();
}

void TerminalProgress::Draw() {
  std::string name = current_;
  if (name.size() > kNameColumns) name = "..." + name.substr(name.size() - (kNameColumns - 3));
  std::fprintf(out_, "\r%s %s %s\x1b[K", archive_canvas_.Text(kBarColumns, archive_meter_.UsedColor()).c_str(),
               item_canvas_.Text(kBarColumns, item_meter_.UsedColor()).c_str(), name.c_str());
  std::fflush(out_);
  shown_ = true;
}

void TerminalProgress::Clear() {
  if (!shown_) return;
  std::fprintf(out_, "\r\x1b[K");
  std::fflush(out_);
  shown_ = false;
}

}  // namespace zipkit::cli
