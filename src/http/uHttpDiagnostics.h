// Diagnostic records of failed HTTP exchanges and the masking that keeps passwords, tokens
// and keys out of them. Pure functions: no state, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace HttpDiagnostics {

inline constexpr std::string_view Mask = "***";
inline constexpr size_t BodyLimit = 4096;  // UTF-16 code units of the decoded body
inline constexpr std::string_view TruncatedMarker = "... [TRUNCATED]";

struct THttpHeader {
  std::string Name;   // as received
  std::string Value;  // without surrounding white space
};

// A query key whose value is secret (contains "pass", "token", "secret", "apikey", "api_key", "auth").
bool IsSecretKey(std::string_view Key);
// The address with the values of secret query keys replaced by the mask.
std::string MaskUrl(std::string_view Url);
// Masks the value of every member named Key (any letter case) in a JSON-like text: a string's
// content, or a whole number / literal / object / array.
void MaskJsonValue(std::string& S, std::string_view Key);
// The JSON keys of the secret list, then every bearer token.
std::string MaskSecrets(std::string_view Text);
// A response header that a record may show.
bool IsLoggedHeader(std::string_view Name);
// text/..., or anything with json or xml in it.
bool IsTextContent(std::string_view ContentType);
// The body as a record shows it: empty without a body, a marker for non-text content, else
// the leniently decoded, masked text cut to BodyLimit units.
std::string DescribeBody(const std::string* Body, std::string_view ContentType);

// The standard reason phrase of a status code; empty for a code without one.
std::string StandardReasonPhrase(long StatusCode);

// The record of an exchange that the client ended with an error.
std::vector<std::string> ExceptionRecord(const std::string& Method, const std::string& Url, int64_t DurationMs,
                                         const std::string& Message, const std::string* Body);
// The record of an answer whose status is not 200.
std::vector<std::string> Non200Record(const std::string& Method, const std::string& Url, int64_t DurationMs,
                                      long StatusCode, const std::string& StatusText,
                                      const std::vector<THttpHeader>& Headers, const std::string* Body);

}  // namespace HttpDiagnostics
