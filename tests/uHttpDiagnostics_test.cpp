// Masking and body description of the HTTP diagnostic records.
#include "uHttpDiagnostics.h"

#include <gtest/gtest.h>

#include "uCommonHttp.h"
#include "uStrings.h"

using namespace HttpDiagnostics;

namespace {

struct TUrlCase {
  const char* Name;
  const char* Url;
  const char* Shown;
};

const TUrlCase UrlCases[] = {
    {"no query", "https://h.example/cmd/common.php", "https://h.example/cmd/common.php"},
    {"secret and harmless keys", "https://h/p?user=jan&password=tajne&apikey=k1&mode=x",
     "https://h/p?user=jan&password=***&apikey=***&mode=x"},
    {"key containing auth or pass", "https://h/p?Auth_Code=123&passage=5", "https://h/p?Auth_Code=***&passage=***"},
    {"other fragments and letter case", "https://h/p?SECRET=1&x_Token=2&api_key=3&sessionid=4",
     "https://h/p?SECRET=***&x_Token=***&api_key=***&sessionid=4"},
    {"pair without =", "https://h/p?debug&token=abc", "https://h/p?debug&token=***"},
    {"secret word as a bare pair stays", "https://h/p?password", "https://h/p?password"},
    {"empty value", "https://h/p?password=&a=1", "https://h/p?password=***&a=1"},
    {"value holding =", "https://h/p?token=a=b&c=d", "https://h/p?token=***&c=d"},
    {"empty pair inside survives", "https://h/p?a=1&&b=2", "https://h/p?a=1&&b=2"},
    {"empty pair after ? disappears", "https://h/p?&a=1", "https://h/p?a=1"},
    {"trailing & disappears", "https://h/p?a=1&", "https://h/p?a=1"},
    {"empty query", "https://h/p?", "https://h/p?"},
    {"fragment belongs to the last value", "https://h/p?a=1&token=abc#part", "https://h/p?a=1&token=***"},
    {"fragment after a harmless value", "https://h/p?a=1#token=abc", "https://h/p?a=1#token=abc"},
    {"split at the first ?", "https://h/p?a=1?token=2", "https://h/p?a=1?token=2"},
};

TEST(MaskUrl, ShowsAddressesWithSecretQueryValuesMasked) {
  for (const auto& c : UrlCases) EXPECT_EQ(MaskUrl(c.Url), c.Shown) << c.Name;
}

struct TMaskCase {
  const char* Name;
  const char* Key;  // nullptr: the whole MaskSecrets
  std::string In;
  std::string Out;
};

const TMaskCase MaskCases[] = {
    // single keys
    {"string value", "password", R"({"user":"jan","password":"tajne","n":1})", R"({"user":"jan","password":"***","n":1})"},
    {"key in any letter case", "password", R"({"PassWord":"tajne"})", R"({"PassWord":"***"})"},
    {"blanks around the colon", "token", "{ \"token\" :\n \"abc\" }", "{ \"token\" :\n \"***\" }"},
    {"every occurrence", "token", R"([{"token":"a"},{"token":"b"}])", R"([{"token":"***"},{"token":"***"}])"},
    {"empty string", "token", R"({"token":"","a":"b"})", R"({"token":"***","a":"b"})"},
    {"longer key is another key", "token", R"({"tokenType":"bearer","token_id":"7"})",
     R"({"tokenType":"bearer","token_id":"7"})"},
    {"key absent", "token", R"({"a":"b"})", R"({"a":"b"})"},
    {"no colon after the key", "token", R"(["token"])", R"(["token"])"},
    {"escaped quote does not end the value", "password", R"({"password":"ab\"cd","x":"y"})",
     R"({"password":"***","x":"y"})"},
    {"cut body: value to the end", "password", R"({"password":"tajne-a-dlo)", R"({"password":"***)"},
    // non-string values are masked themselves; the next key stays
    {"number", "token", R"({"token":12345,"next":"visible"})", R"({"token":***,"next":"visible"})"},
    {"true", "secret", R"({"secret":true,"next":"visible"})", R"({"secret":***,"next":"visible"})"},
    {"null at the end", "secret", R"({"secret": null})", R"({"secret": ***})"},
    {"object", "token", R"({"token":{"v":"x","w":[1,"}"]},"next":"visible"})", R"({"token":***,"next":"visible"})"},
    {"array", "apikey", R"({"apikey":["a","b"],"next":"visible"})", R"({"apikey":***,"next":"visible"})"},
    {"nothing after the colon", "token", R"({"token":)", R"({"token":)"},
    // the whole masking
    {"every listed key", nullptr,
     R"({"password":"1","passwd":"2","token":"3","secret":"4","api_key":"5","apikey":"6","user":"u"})",
     R"({"password":"***","passwd":"***","token":"***","secret":"***","api_key":"***","apikey":"***","user":"u"})"},
    {"unlisted key", nullptr, R"({"pin":"1234","heslo":"x"})", R"({"pin":"1234","heslo":"x"})"},
    {"bearer token to the next blank", nullptr, "Authorization: Bearer abc.def-ghi rest",
     "Authorization: Bearer *** rest"},
    {"bearer in any letter case", nullptr, "authorization: BEARER abc", "Authorization: Bearer ***"},
    {"bearer token to the quote", nullptr, R"({"h":"Authorization: Bearer abc"})",
     R"({"h":"Authorization: Bearer ***"})"},
    {"bearer token to the line end, twice", nullptr, "Authorization: Bearer a1\nAuthorization: Bearer b2\n",
     "Authorization: Bearer ***\nAuthorization: Bearer ***\n"},
    {"bearer without token", nullptr, "Authorization: Bearer ", "Authorization: Bearer ***"},
    {"bearer token after extra blanks", nullptr, "Authorization: Bearer   abc x", "Authorization: Bearer *** x"},
    {"bearer token holding a JSON key", nullptr, "Authorization: Bearer x\"token\":\"y\"",
     "Authorization: Bearer ***\"token\":\"***\""},
    {"UTF-8 around a secret", nullptr, R"({"zpráva":"žluťoučký","password":"kůň"})",
     R"({"zpráva":"žluťoučký","password":"***"})"},
    {"empty text", nullptr, "", ""},
};

TEST(MaskSecrets, MasksListedJsonValuesAndBearerTokens) {
  for (const auto& c : MaskCases) {
    if (c.Key) {
      std::string s = c.In;
      MaskJsonValue(s, c.Key);
      EXPECT_EQ(s, c.Out) << c.Name;
    } else {
      EXPECT_EQ(MaskSecrets(c.In), c.Out) << c.Name;
    }
  }
}

struct TBodyCase {
  const char* Name;
  const char* ContentType;
  std::string Body;
  std::string Shown;
};

std::string Rep(const std::string& S, size_t N) {
  std::string r;
  for (size_t i = 0; i < N; ++i) r += S;
  return r;
}

const std::string Cut(TruncatedMarker);
const std::string Emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units

const TBodyCase BodyCases[] = {
    {"5000 characters are cut to 4096", "text/plain", Rep("a", 5000), Rep("a", 4096) + Cut},
    {"exactly 4096 characters stay whole", "text/plain", Rep("a", 4096), Rep("a", 4096)},
    {"4097 characters are cut", "text/plain", Rep("a", 4097), Rep("a", 4096) + Cut},
    {"characters are counted, not bytes", "text/plain", Rep("č", 4096), Rep("č", 4096)},
    {"a surrogate pair is never split", "text/plain", Rep("a", 4095) + Emoji, Rep("a", 4095) + Cut},
    {"a surrogate pair fitting the limit stays", "text/plain", Rep("a", 4094) + Emoji, Rep("a", 4094) + Emoji},
    {"masked before the cut", "application/json", Rep("a", 4070) + R"({"password":")" + Rep("x", 100) + "\"}",
     Rep("a", 4070) + R"({"password":"***"})"},
    {"invalid UTF-8 becomes U+FFFD", "text/plain", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
    {"line breaks remain", "text/xml", "<a>\r\n<b/>\n</a>", "<a>\r\n<b/>\n</a>"},
    {"empty body", "application/json", "", ""},
    {"non-text content type", "application/pdf", "%PDF-1.4", "[Body skipped: non-text content type: application/pdf]"},
    {"missing content type", "", "abc", "[Body skipped: non-text content type: ]"},
    {"marker keeps the type as received", "Image/PNG; x=1", "abc", "[Body skipped: non-text content type: Image/PNG; x=1]"},
};

TEST(DescribeBody, ShowsTextMaskedAndCutAndSkipsOtherContent) {
  for (const auto& c : BodyCases) EXPECT_EQ(DescribeBody(&c.Body, c.ContentType), c.Shown) << c.Name;
  EXPECT_EQ(DescribeBody(nullptr, "text/plain"), "");

  // Through the wrapper's stream: the position the caller left stays.
  TMemoryStream s;
  s.Write("{\"token\":\"t\"}", 13);
  s.Position = 3;
  EXPECT_EQ(TCommonHttp::DescribeBody(&s, "application/json"), "{\"token\":\"***\"}");
  EXPECT_EQ(s.Position, 3u);
}

TEST(IsTextContent, TextLikeTypes) {
  struct {
    const char* Type;
    bool Text;
  } cases[] = {
      {"text/plain", true},         {"TEXT/HTML; charset=utf-8", true}, {"application/json", true},
      {"APPLICATION/JSON", true},   {"application/problem+json", true}, {"application/xml", true},
      {"application/soap+xml", true}, {"application/x-ndjson", true},   {"application/pdf", false},
      {"application/octet-stream", false}, {"image/png", false},        {"multipart/form-data", false},
      {"textual/x", false},         {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTextContent(c.Type), c.Text) << c.Type;
}

TEST(IsLoggedHeader, OnlyTheHarmlessHeaders) {
  for (const char* n : {"Content-Type", "content-length", "DATE", "X-Request-Id", "x-correlation-id"})
    EXPECT_TRUE(IsLoggedHeader(n)) << n;
  for (const char* n : {"Set-Cookie", "Server", "Authorization", "Content-Type2", "X-Request", ""})
    EXPECT_FALSE(IsLoggedHeader(n)) << n;
}

}  // namespace
