// The progress display of the command-line tool: the component's two meters (archive and
// item), painted into text canvases and drawn as one line on the terminal.
#pragma once

#include <cstdio>
#include <string>

#include "meter/meter.h"
#include "meter/text_canvas.h"

namespace zipkit::cli {

class TerminalProgress {
 public:
  // Draws on Out only when Enabled (a terminal); otherwise the meters paint nowhere.
  TerminalProgress(std::FILE* Out, bool Enabled);
  ~TerminalProgress();

  TAbMeter& ArchiveMeter() { return archive_meter_; }
  TAbMeter& ItemMeter() { return item_meter_; }
  // The entry shown beside the bars.
  void SetCurrent(const std::string& Name);
  // Removes the line, so that a message can be printed in its place.
  void Clear();

 private:
  void Draw();

  std::FILE* out_;
  bool enabled_;
  bool shown_ = false;
  std::string current_;
  TAbMeter archive_meter_, item_meter_;
  TAbTextCanvas archive_canvas_, item_canvas_;
};

}  // namespace zipkit::cli
