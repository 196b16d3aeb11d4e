#include "uSandboxFaults.h"

#include <cstdlib>

namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

std::string Decode(const std::string& Text) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    char c = Text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < Text.size() && HexValue(Text[i + 1]) >= 0 && HexValue(Text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(Text[i + 1]) * 16 + HexValue(Text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

bool ParseNumber(const std::string& Text, int Min, int Max, int& Value) {
  if (Text.empty() || Text.size() > 9 || Text.find_first_not_of("0123456789") != std::string::npos) return false;
  int v = std::atoi(Text.c_str());
  if (v < Min || v > Max) return false;
  Value = v;
  return true;
}

bool KnownTarget(const std::string& T) {
  static const char* targets[] = {"any", "order", "order1", "order2", "order3", "letter", "version", "version4", "version5"};
  for (const char* t : targets)
    if (T == t) return true;
  return false;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseQuery(const std::string& Query) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t start = 0;
  while (start <= Query.size()) {
    size_t amp = Query.find('&', start);
    std::string part = Query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    if (!part.empty()) {
      auto eq = part.find('=');
      if (eq == std::string::npos)
        out.emplace_back(Decode(part), "");
      else
        out.emplace_back(Decode(part.substr(0, eq)), Decode(part.substr(eq + 1)));
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

std::string FaultKindName(TFaultKind Kind) {
  switch (Kind) {
    case TFaultKind::fkStatus: return "fail";
    case TFaultKind::fkDrop: return "drop";
    case TFaultKind::fkStall: return "stall";
    case TFaultKind::fkMalformed: return "malformed";
    case TFaultKind::fkHashLength: return "hash";
    case TFaultKind::fkNoPopis: return "nopopis";
  }
  return "?";
}

std::string DescribeRule(const TFaultRule& R) {
  std::string s = FaultKindName(R.Kind) + "=";
  s += R.Kind == TFaultKind::fkHashLength ? std::to_string(R.HashLength) : R.Target;
  if (R.Kind == TFaultKind::fkStatus) s += "&status=" + std::to_string(R.Status);
  if (R.Kind == TFaultKind::fkStall) s += "&ms=" + std::to_string(R.Ms);
  return s + "&count=" + std::to_string(R.Count);
}

TFaultPlan::TFaultPlan(std::string StartVersion) : fStartVersion(StartVersion), fVersion(std::move(StartVersion)) {}

bool TFaultPlan::Apply(const std::string& Command, std::string& Err) {
  auto pairs = ParseQuery(Command);
  if (pairs.empty()) {
    Err = "empty control command";
    return false;
  }
  const std::string& verb = pairs[0].first;
  const std::string& arg = pairs[0].second;
  auto extra = [&](std::initializer_list<const char*> Allowed) -> bool {
    for (size_t i = 1; i < pairs.size(); ++i) {
      bool ok = false;
      for (const char* a : Allowed) ok = ok || pairs[i].first == a;
      if (!ok) {
        Err = "'" + pairs[i].first + "' does not belong to " + verb;
        return false;
      }
    }
    return true;
  };
  auto param = [&](const char* Name) -> const std::string* {
    for (size_t i = 1; i < pairs.size(); ++i)
      if (pairs[i].first == Name) return &pairs[i].second;
    return nullptr;
  };

  if (verb == "reset" || verb == "rules") {
    if (!extra({})) return false;
    if (verb == "reset") {
      std::lock_guard<std::mutex> g(fLock);
      fRules.clear();
      fVersion = fStartVersion;
    }
    return true;
  }
  if (verb == "version") {
    if (!extra({})) return false;
    std::lock_guard<std::mutex> g(fLock);
    fVersion = arg;
    return true;
  }

  TFaultRule rule;
  if (verb == "fail") {
    rule.Kind = TFaultKind::fkStatus;
    if (!extra({"status", "count"})) return false;
  } else if (verb == "drop") {
    rule.Kind = TFaultKind::fkDrop;
    if (!extra({"count"})) return false;
  } else if (verb == "stall") {
    rule.Kind = TFaultKind::fkStall;
    if (!extra({"ms", "count"})) return false;
  } else if (verb == "malformed") {
    rule.Kind = TFaultKind::fkMalformed;
    if (!extra({"count"})) return false;
  } else if (verb == "hash") {
    rule.Kind = TFaultKind::fkHashLength;
    if (!extra({"count"})) return false;
  } else if (verb == "nopopis") {
    rule.Kind = TFaultKind::fkNoPopis;
    if (!extra({"count"})) return false;
  } else {
    Err = "unknown control command: " + verb;
    return false;
  }

  if (rule.Kind == TFaultKind::fkHashLength) {
    rule.Target = "order1";
    if (!ParseNumber(arg, 1, 200, rule.HashLength)) {
      Err = "hash= takes a length from 1 to 200: " + arg;
      return false;
    }
  } else {
    rule.Target = arg;
    if (!KnownTarget(arg)) {
      Err = "unknown target '" + arg + "' (any, order, order1, order2, order3, letter, version, version4, version5)";
      return false;
    }
    if (rule.Kind == TFaultKind::fkNoPopis && arg != "order2" && arg != "order3") {
      Err = "nopopis= applies to order2 or order3";
      return false;
    }
  }
  if (const std::string* c = param("count"); c && !ParseNumber(*c, 1, 1000000, rule.Count)) {
    Err = "count= takes a number from 1 to 1000000: " + *c;
    return false;
  }
  if (const std::string* s = param("status"); s && !ParseNumber(*s, 100, 599, rule.Status)) {
    Err = "status= takes an HTTP status from 100 to 599: " + *s;
    return false;
  }
  if (rule.Kind == TFaultKind::fkStall) {
    const std::string* ms = param("ms");
    if (!ms || !ParseNumber(*ms, 0, 600000, rule.Ms)) {
      Err = "stall= needs ms= from 0 to 600000";
      return false;
    }
  }
  std::lock_guard<std::mutex> g(fLock);
  fRules.push_back(rule);
  return true;
}

bool TFaultPlan::Fits(const TFaultRule& R, const TRequestKind& Q) {
  const std::string& t = R.Target;
  bool targetFits = t == "any" || t == Q.Service || (Q.Step > 0 && t == Q.Service + std::to_string(Q.Step));
  if (!targetFits) return false;
  if (R.Kind == TFaultKind::fkHashLength) return Q.Service == "order" && Q.Step == 1;
  if (R.Kind == TFaultKind::fkNoPopis) return Q.Service == "order" && (Q.Step == 2 || Q.Step == 3);
  return true;
}

std::optional<TFaultRule> TFaultPlan::Take(const TRequestKind& Request) {
  std::lock_guard<std::mutex> g(fLock);
  for (auto it = fRules.begin(); it != fRules.end(); ++it) {
    if (!Fits(*it, Request)) continue;
    TFaultRule taken = *it;
    taken.Count = 1;
    if (--it->Count <= 0) fRules.erase(it);
    return taken;
  }
  return std::nullopt;
}

std::string TFaultPlan::Version() const {
  std::lock_guard<std::mutex> g(fLock);
  return fVersion;
}

std::string TFaultPlan::Describe() const {
  std::lock_guard<std::mutex> g(fLock);
  std::string s = "ok\n";
  s += "version=" + fVersion + "\n";
  for (const auto& r : fRules) s += DescribeRule(r) + "\n";
  return s;
}
