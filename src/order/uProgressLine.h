// One line of progress on standard error (bytes done, percent, rate), rewritten in place.
// Shown only when standard error is a terminal, so scripts and log captures never see it;
// standard output is never touched.
#pragma once

#include <cstdint>
#include <string>

class TProgressLine {
 public:
  // Total 0: unknown, the line shows bytes and rate only.
  TProgressLine(const std::string& Label, int64_t Total);
  ~TProgressLine();  // clears the line
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // Redraws at most a few times a second; Force draws at once.
  void Update(int64_t Done, bool Force = false);
  void SetLabel(const std::string& Label, int64_t Total);
  // Removes the line so that the next console line starts on a clean row.
  void Finish();

  // The line's text for Done bytes after ElapsedMs.
  static std::string Render(const std::string& Label, int64_t Done, int64_t Total, int64_t ElapsedMs);

 private:
  bool fEnabled;
  std::string fLabel;
  int64_t fTotal;
  int64_t fStartMs;
  int64_t fLastDrawMs = -1;
  size_t fLastWidth = 0;
};
