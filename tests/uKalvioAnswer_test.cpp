// The letter service's answer: which documents are positive, and what each one yields.
#include "uKalvioAnswer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TAnswerCase {
  const char* Name;
  std::string Body;
  bool Positive;
  std::string KodObj;
  std::string KodRR;
  std::string ErrorItem;
  int32_t CodeError;
};

std::ostream& operator<<(std::ostream& Os, const TAnswerCase& C) { return Os << C.Name; }

const std::string Numbers = "<kod_objednavky>A1</kod_objednavky><podaci_cislo>RR9</podaci_cislo>";

// A negative answer: one "chyby" with the given children, and the shipment number K7.
std::string Negative(const std::string& Children) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<odpoved>\n  <chyby stav=\"1\">" + Children +
         "</chyby>\n  <kod_objednavky>K7</kod_objednavky>\n</odpoved>\n";
}

// One reported error: a white-space text node first, the description second.
std::string Error(const std::string& Kod, const std::string& Text, const std::string& Stav = "1") {
  return "\n    <zaznam stav=\"" + Stav + "\"><chyba kod=\"" + Kod + "\">\n      <popis>" + Text +
         "</popis>\n    </chyba></zaznam>\n  ";
}

const TAnswerCase Cases[] = {
    {"Positive", "<x><chyby stav=\"0\"/>" + Numbers + "</x>", true, "A1", "RR9", "", 0},
    {"PositiveNumbersAnywhereBelowTheRoot",
     "<a><b><chyby stav=\"0\"></chyby></b><c><kod_objednavky>A1</kod_objednavky></c><d><e>"
     "<podaci_cislo>RR9</podaci_cislo></e></d></a>",
     true, "A1", "RR9", "", 0},
    {"TextOfANodeIsAllItsCharacterData",
     "<x><chyby stav=\"0\"/><kod_objednavky>A<i>1</i><![CDATA[-2]]></kod_objednavky>"
     "<podaci_cislo> RR9 </podaci_cislo></x>",
     true, "A1-2", " RR9 ", "", 0},
    {"FirstElementOfANameCounts",
     "<x><chyby stav=\"0\"/><kod_objednavky>A1</kod_objednavky><kod_objednavky>B2</kod_objednavky>"
     "<podaci_cislo>RR9</podaci_cislo><chyby stav=\"1\"/></x>",
     true, "A1", "RR9", "", 0},
    // What was read before the failure stays.
    {"PositiveWithoutPostingNumberFails", "<x><chyby stav=\"0\"/><kod_objednavky>A1</kod_objednavky></x>", false,
     "A1", "", "Element 'podaci_cislo' not found", 0},
    {"StavWithBlankIsNotZero", "<x><chyby stav=\" 0\"/>" + Numbers + "</x>", false, "", "", "", 0},
    {"StavWithTwoZerosIsNotZero", "<x><chyby stav=\"00\"/>" + Numbers + "</x>", false, "", "", "", 0},
    {"ErrorDescriptionIsTheSecondChildTrimmed", Negative(Error("12", " Chybný formát\t")), false, "K7", "",
     "Chybný formát", 12},
    {"ErrorDescriptionAsTextNode", Negative("<z stav=\"1\"><chyba kod=\"3\"><b/>\n  Neplatná adresa \n</chyba></z>"),
     false, "K7", "", "Neplatná adresa", 3},
    // A comment is a child node like any other: the description after it is the second child.
    {"CommentCountsAsAChildNode", Negative("<z stav=\"1\"><chyba kod=\"5\"><!-- popis -->Chybí adresa</chyba></z>"),
     false, "K7", "", "Chybí adresa", 5},
    {"ErrorElementWithOneChildFails", Negative("<z stav=\"1\"><chyba kod=\"12\">Popis</chyba></z>"), false, "", "",
     "Node 'chyba' has no child node 1", 0},
    {"DuplicateNamesTheEarlierNumber", Negative(Error("-35", "Duplicitní zásilka")), false, "K7", "",
     "Duplicitní zásilka", -35},
    {"KodNotANumberFails", Negative(Error("x35", "Duplicitní zásilka")), false, "", "",
     "'x35' is not a valid integer value", 0},
    {"KodOutOfRangeFails", Negative(Error("2147483648", "Popis")), false, "", "",
     "'2147483648' is not a valid integer value", 0},
    {"KodMissingFails", Negative("<z stav=\"1\"><chyba>\n<popis>P</popis></chyba></z>"), false, "", "",
     "Attribute 'kod' of node 'chyba' not found", 0},
    {"NoChildWithStavOne", Negative(Error("12", "Popis", "0") + Error("13", "Popis", "2")), false, "", "", "", 0},
    {"ChildWithoutStavFails", Negative("\n<z><chyba kod=\"1\">\n<p>P</p></chyba></z>"), false, "", "",
     "Attribute 'stav' of node 'z' not found", 0},
    {"OnlyChybaElementsOfAChildCount", Negative("<z stav=\"1\"><jine kod=\"9\"> <p>X</p></jine></z>"), false, "", "",
     "", 0},
    {"LastReportedErrorWins", Negative(Error("11", "První") + Error("99", "Nehlášená", "0") + Error("22", "Druhá")),
     false, "K7", "", "Druhá", 22},
    {"FailureAfterAnErrorKeepsWhatWasRead", Negative(Error("11", "První") + Error("zz", "Druhá")), false, "K7", "",
     "'zz' is not a valid integer value", 11},
    {"NamesAreCaseSensitive", "<x><Chyby stav=\"0\"/>" + Numbers + "</x>", false, "", "", "Element 'chyby' not found",
     0},
    {"ChybyWithoutStavFails", "<x><chyby/>" + Numbers + "</x>", false, "", "",
     "Attribute 'stav' of node 'chyby' not found", 0},
    {"DocumentElementItselfIsNotSearched", "<chyby stav=\"0\">" + Numbers + "</chyby>", false, "", "",
     "Element 'chyby' not found", 0},
    {"MalformedXml", "<x><chyby stav=\"0\">" + Numbers + "</x>", false, "", "", "Start-end tags mismatch", 0},
    {"EmptyBody", "", false, "", "", "No document element found", 0},
    {"Windows1250Description",
     "<?xml version=\"1.0\" encoding=\"windows-1250\"?><x><chyby stav=\"1\"><z stav=\"1\"><chyba kod=\"4\"> "
     "<p>Chybn\xFD \x9A\xED\xF8\x6B\x61</p></chyba></z></chyby><kod_objednavky>K7</kod_objednavky></x>",
     false, "K7", "", "Chybný šířka", 4},
};

class KalvioAnswer : public testing::TestWithParam<TAnswerCase> {};

TEST_P(KalvioAnswer, Reads) {
  const TAnswerCase& c = GetParam();
  TKalvioAnswer a;
  EXPECT_EQ(ParseKalvioAnswer(c.Body, a), c.Positive);
  EXPECT_EQ(a.KodObj, c.KodObj);
  EXPECT_EQ(a.KodRR, c.KodRR);
  EXPECT_EQ(a.ErrorItem, c.ErrorItem);
  EXPECT_EQ(a.CodeError, c.CodeError);
}

INSTANTIATE_TEST_SUITE_P(Documents, KalvioAnswer, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TAnswerCase>& I) { return std::string(I.param.Name); });

}  // namespace
