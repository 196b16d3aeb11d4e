// Misbehaviour on request: rules that make the next requests of a service fail in a chosen
// way, set by command-line options or by the control endpoint. Thread-safe.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class TFaultKind { fkStatus, fkDrop, fkStall, fkMalformed, fkHashLength, fkNoPopis };

// One request as the rules see it: the service ("order", "letter", "version") and its step
// (order: "krok" 1..3; version: "type" 4 or 5; 0 when unknown or none).
struct TRequestKind {
  std::string Service;
  int Step = 0;
};

struct TFaultRule {
  TFaultKind Kind = TFaultKind::fkStatus;
  std::string Target;  // order, order1..3, letter, version, version4, version5, any
  int Count = 1;       // requests still to be hit
  int Status = 500;    // fkStatus
  int Ms = 0;          // fkStall
  int HashLength = 0;  // fkHashLength
};

// Splits a query text "a=1&b=x%20y" into decoded pairs, in order ("+" is a blank).
std::vector<std::pair<std::string, std::string>> ParseQuery(const std::string& Query);

std::string FaultKindName(TFaultKind Kind);
// One line for a rule, e.g. "fail=order2&status=503&count=2".
std::string DescribeRule(const TFaultRule& Rule);

class TFaultPlan {
 public:
  explicit TFaultPlan(std::string StartVersion);

  // Carries out one control command (see README); false with Err when it is not understood,
  // and then nothing changes.
  bool Apply(const std::string& Command, std::string& Err);

  // Takes the first pending rule that fits the request and counts it down.
  std::optional<TFaultRule> Take(const TRequestKind& Request);

  std::string Version() const;
  // "ok" and the pending rules, one a line, for the control answer.
  std::string Describe() const;

 private:
  static bool Fits(const TFaultRule& Rule, const TRequestKind& Request);
  mutable std::mutex fLock;
  std::vector<TFaultRule> fRules;
  std::string fStartVersion;
  std::string fVersion;
};
