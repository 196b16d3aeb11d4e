// libFuzzer target for the option parser: any bytes as a command line, then everything the
// parser can say about the result, then a second parse of its own write-back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "uCommandLine.h"
#include "uStrings.h"

namespace {

bool HasValueFlag(const std::string& Flag) { return Flag.find_first_of(":=") != std::string::npos; }

// Properties that hold for every line; a breach is reported as a crash.
void Check(const TOptionParser& P, const std::string& Parsed) {
  std::vector<std::string> lines;
  P.Debug(lines);
  if (lines.size() != P.Count()) __builtin_trap();
  const std::string back = P.Duplicate();
  if (back.empty() != (P.Count() == 0)) __builtin_trap();
  if (!IsValidUtf8(back)) __builtin_trap();
  for (const TOption& o : P) {
    if (!P.ContainsKey(AsciiLower(o.Name()))) __builtin_trap();
    const std::vector<std::string> values = o.AsStringList();
    for (const std::string& v : values)
      if (v.empty()) __builtin_trap();  // empty values are never stored
    // Values come only from this parse; the flag may be that of a later occurrence.
    if (!values.empty() && !o.Given()) __builtin_trap();
    if (!values.empty() && !HasValueFlag(o.Flag()) && !Contains(Parsed, ":") && !Contains(Parsed, "=")) __builtin_trap();
    if (o.AsString() != (values.empty() ? std::string() : values.front())) __builtin_trap();
    (void)o.AsCommandLine();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string line(reinterpret_cast<const char*>(Data), Size);
  TOptionParser p;
  p.Parse(line);
  Check(p, line);
  const size_t before = p.Count();
  const std::string back = p.Duplicate();
  p.Parse(back);
  Check(p, back);
  if (p.Count() < before) __builtin_trap();  // a later parse never removes options
  return 0;
}
