// The order service's answers to steps 1 to 3, read by ReadHash and CheckAnswer.
#include <gtest/gtest.h>

#include "uCommonHttp.h"
#include "uHybridThread.h"
#include "uTestSupport.h"

namespace {

class TAnswerReader : public THybridApiThread {
 public:
  using THybridApiThread::THybridApiThread;
  void Answer(const std::string& Body, const std::string& ErrorBefore, const std::string& KodBefore) {
    fDataItem->Clear();
    fDataItem->Bytes = Body;
    fErrorItem = ErrorBefore;
    fKodObj = KodBefore;
  }
  using THybridApiThread::CheckAnswer;
  using THybridApiThread::ReadHash;
};

const std::string H = "0123456789abcdef0123456789abcdef01234567";
const std::string Before = "earlier text";
const std::string NoPopis = "GetNodeTextStr: No text in the the popis node";
const std::string NoHodnota = "GetNodeTextStr: No text in the the hodnota node";

TEST(OrderAnswers, ReadHashAndCheckAnswer) {
  struct Case {
    const char* What;
    std::string Body;
    std::string Hash, HashError;  // ReadHash result and the error text after it
    bool Ok;
    std::string CheckError, KodObj;  // after CheckAnswer (fKodObj was "K0" before)
  };
  const Case cases[] = {
      {"any root name, code 0", "<x><hodnota>0</hodnota><hash>" + H + "</hash></x>", H, Before, false, NoPopis, ""},
      {"success of step 2 or 3", "<odpoved><hodnota>0</hodnota><popis>OK</popis><kodobjednavky>Z-7</kodobjednavky></odpoved>",
       "", Before, true, Before, "Z-7"},
      {"no order number", "<o><hodnota>0</hodnota><popis>OK</popis></o>", "", Before, true, Before, ""},
      {"an empty popis is present", "<o><hodnota>0</hodnota><popis/></o>", "", Before, true, Before, ""},
      {"order number stored before popis is found missing", "<o><hodnota>0</hodnota><kodobjednavky>Z-8</kodobjednavky></o>",
       "", Before, false, NoPopis, "Z-8"},
      {"refusal with a description", "<o><hodnota>5</hodnota><popis>Neplatny uzivatel</popis><hash>" + H + "</hash></o>",
       "", "Neplatny uzivatel", false, "Neplatny uzivatel", "K0"},
      {"refusal without a description", "<o><hodnota>-1</hodnota></o>", "", Before, false, NoPopis, "K0"},
      {"empty hodnota", "<o><hodnota></hodnota><popis>x</popis></o>", "", "'' is not a valid integer value", false,
       "'' is not a valid integer value", "K0"},
      {"hodnota not a number", "<o><hodnota>0x</hodnota><popis>x</popis></o>", "", "'0x' is not a valid integer value",
       false, "'0x' is not a valid integer value", "K0"},
      {"hodnota missing", "<o><popis>x</popis><hash>" + H + "</hash></o>", "", NoHodnota, false, NoHodnota, "K0"},
      {"hodnota deeper than below the root", "<o><a><hodnota>0</hodnota></a><popis>x</popis></o>", "", NoHodnota,
       false, NoHodnota, "K0"},
      {"the root itself named hodnota", "<hodnota>0</hodnota>", "", Before, false, NoPopis, ""},
      {"malformed XML", "<o><hodnota>0</hodnota><popis>x</popis>", "", NoHodnota, false, NoHodnota, "K0"},
      {"not XML at all", "Internal error", "", NoHodnota, false, NoHodnota, "K0"},
      {"text after a comment is the element's text", "<o><hodnota><!-- c -->0</hodnota><hash>" + H + "</hash></o>", H,
       Before, false, NoPopis, ""},
      {"a hash of any length is handed on", "<o><hodnota>0</hodnota><hash>abc</hash></o>", "abc", Before, false,
       NoPopis, ""},
  };
  TestSupport::TTempDir dir;
  TSettings settings;
  settings.LogItem = dir.Path() + "/";
  TAnswerReader reader(dir / "zakazka.cfg", settings, true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    reader.Answer(c.Body, Before, "K0");
    EXPECT_EQ(reader.ReadHash(), c.Hash);
    EXPECT_EQ(reader.ErrStr(), c.HashError);
    reader.Answer(c.Body, Before, "K0");
    EXPECT_EQ(reader.CheckAnswer(), c.Ok);
    EXPECT_EQ(reader.ErrStr(), c.CheckError);
    EXPECT_EQ(reader.KodObj(), c.KodObj);
  }
}

}  // namespace
