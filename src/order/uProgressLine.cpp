#include "uProgressLine.h"

#include <cstdio>

#include "uPlatform.h"
#include "uStrings.h"

namespace {

constexpr int64_t RedrawMs = 200;

std::string MiB(double Bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MiB", Bytes / (1024.0 * 1024.0));
  return buf;
}

}  // namespace

TProgressLine::TProgressLine(const std::string& Label, int64_t Total)
    : fEnabled(Platform::StdErrIsTerminal()), fLabel(Label), fTotal(Total), fStartMs(Platform::MonotonicMs()) {}

TProgressLine::~TProgressLine() { Finish(); }

std::string TProgressLine::Render(const std::string& Label, int64_t Done, int64_t Total, int64_t ElapsedMs) {
  std::string line = Label + ": " + MiB(static_cast<double>(Done));
  if (Total > 0) {
    const int64_t percent = Done >= Total ? 100 : Done * 100 / Total;
    line += " / " + MiB(static_cast<double>(Total)) + " (" + IntToStr(percent) + " %)";
  }
  if (ElapsedMs > 0) line += ", " + MiB(static_cast<double>(Done) * 1000.0 / static_cast<double>(ElapsedMs)) + "/s";
  return line;
}

void TProgressLine::SetLabel(const std::string& Label, int64_t Total) {
  fLabel = Label;
  fTotal = Total;
  fStartMs = Platform::MonotonicMs();
  fLastDrawMs = -1;
}

void TProgressLine::Update(int64_t Done, bool Force) {
  if (!fEnabled) return;
  const int64_t now = Platform::MonotonicMs();
  if (!Force && fLastDrawMs >= 0 && now - fLastDrawMs < RedrawMs) return;
  fLastDrawMs = now;
  std::string line = Render(fLabel, Done, fTotal, now - fStartMs);
  const size_t width = Utf16Length(line);
  // Blanks over what is left of a longer previous line.
  if (width < fLastWidth) line += std::string(fLastWidth - width, ' ');
  fLastWidth = width;
  Platform::StdErrWrite("\r" + line);
}

void TProgressLine::Finish() {
  if (!fEnabled || fLastWidth == 0) return;
  Platform::StdErrWrite("\r" + std::string(fLastWidth, ' ') + "\r");
  fLastWidth = 0;
}
