// The tables the benchmarks merge: a main and an add workbook of N rows x 10 columns, key
// column A (90% of the main rows with a partner, add rows shuffled), the other columns
// alternating numbers and texts, written as .ods through the office.
#pragma once

#include <string>

#include "support/OfficeTesting.hpp"

namespace bench {

// The key column: texts "K<key>"; numbers <key> (standard format); dates (day 30000 + <key>
// under "DD.MM.YYYY"); formulas ="K"&<key> giving texts.
enum class Keys { Text, Numbers, Dates, Formulas };
extern Keys gKeys;

Keys ParseKeys(const std::string& kind);  // "text", "numbers", "dates", "formulas"
const char* KeysName();

// With `nearMisses` (text keys), half the main keys without a partner are near misses of an
// add key, of each kind in turn: letter case, Unicode form (full-width digits), a space,
// punctuation, a leading zero, a typo (a letter put in).
void MakeTables(const office_testing::TempDir& dir, int rows, const std::string& main,
                const std::string& add, bool nearMisses = false);

// The main key of row `r` (zero-based) as MakeTables writes it with near misses, and whether
// it has a partner; the add keys are "K0" .. "K<rows - 1>".
std::string MainKeyText(int r, int rows, bool nearMisses, bool& partner);

}  // namespace bench
