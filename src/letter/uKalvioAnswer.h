// Reading the letter service's XML answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What an answer yields. The reader only assigns: what a caller put in before stays until
// the answer replaces it, also when reading stops at a failure.
struct TKalvioAnswer {
  std::string KodObj;     // shipment number ("kod_objednavky")
  std::string KodRR;      // posting number ("podaci_cislo"), positive answers only
  std::string ErrorItem;  // description of the last reported error, or the reader's failure
  int32_t CodeError = 0;  // code of the last reported error ("kod")
};

// True when the first "chyby" carries stav="0" and both numbers could be read. Any reading
// failure (not well formed, a missing element, attribute or child node, a "kod" that is not
// an integer) ends the reading at once with the failure's message in ErrorItem.
bool ParseKalvioAnswer(std::string_view Body, TKalvioAnswer& Answer);
