#include "merge/NearKeys.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace merge {

namespace {

// What a level forgives, as transforms applied in this order: form, case, spaces,
// punctuation, zeros.
enum Transform : unsigned {
  kCase = 1,
  kForm = 2,
  kSpaces = 4,
  kPunctuation = 8,
  kZeros = 16,
};
constexpr std::array<const char*, 5> kWords = {"letter case", "Unicode form", "spaces",
                                               "punctuation", "leading zeros"};

unsigned Forgiven(Nearness level) {
  return (1u << std::min(static_cast<unsigned>(level), 5u)) - 1u;
}

bool Ascii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsSpace(UChar32 c) {
  return u_isUWhiteSpace(c);
}

// Punctuation of any kind, dashes among them, and the minus sign, which Unicode calls a symbol.
bool IsPunctuation(UChar32 c) {
  return u_ispunct(c) || c == 0x2212;
}

// Removes the zeros that lead a run of digits, keeping a run's last digit.
std::u32string WithoutLeadingZeros(const std::u32string& text) {
  std::u32string out;
  bool inRun = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    const bool digit = c >= U'0' && c <= U'9';
    const bool nextDigit = i + 1 < text.size() && text[i + 1] >= U'0' && text[i + 1] <= U'9';
    if (c == U'0' && !inRun && nextDigit) continue;
    out += c;
    inRun = digit;
  }
  return out;
}

// The key with what `forgiven` names taken out, as code points.
std::u32string Normal32(const std::string& key, unsigned forgiven) {
  std::u32string points;
  if (Ascii(key)) {  // as it is in every Unicode form
    for (const char ch : key) {
      auto c = static_cast<char32_t>(static_cast<unsigned char>(ch));
      if (forgiven & kCase && c >= U'A' && c <= U'Z') c += U'a' - U'A';
      points += c;
    }
  } else {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(key);
    UErrorCode status = U_ZERO_ERROR;
    if (forgiven & kForm) {
      const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
      if (U_SUCCESS(status)) text = nfkc->normalize(text, status);
    }
    if (forgiven & kCase) text.foldCase();
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1))
      points += static_cast<char32_t>(text.char32At(i));
  }
  std::u32string kept;
  for (const char32_t c : points) {
    if (forgiven & kSpaces && IsSpace(static_cast<UChar32>(c))) continue;
    if (forgiven & kPunctuation && IsPunctuation(static_cast<UChar32>(c))) continue;
    kept += c;
  }
  return forgiven & kZeros ? WithoutLeadingZeros(kept) : kept;
}

// The form typos are counted in.
constexpr std::size_t kTypoForm = static_cast<std::size_t>(Nearness::Punctuation) - 1;

// The five forms of a key, for levels Case .. Zeros.
std::array<std::u32string, 5> Forms(const std::string& key) {
  std::array<std::u32string, 5> forms;
  for (unsigned level = 1; level <= 5; ++level)
    forms[level - 1] = Normal32(key, Forgiven(static_cast<Nearness>(level)));
  return forms;
}

struct U32Hash {
  std::size_t operator()(const std::u32string& s) const noexcept {
    std::uint64_t h = 1469598103934665603ull;
    for (const char32_t c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<std::size_t>(h);
  }
};

// The best found so far for one key.
struct Best {
  std::int32_t candidate = -1;
  std::int32_t level = 7;  // beyond every level: none yet
  std::int32_t edits = 0;
  bool tied = false;
  void Offer(std::int32_t c, std::int32_t at, std::int32_t edited = 0) {
    if (at < level || (at == level && edited < edits)) {
      *this = {c, at, edited, false};
    } else if (at == level && edited == edits && c != candidate) {
      tied = true;
    }
  }
};

// Optimal string alignment distance (a swap of two neighbours is one edit), or limit + 1
// when it is larger than `limit`.
std::int32_t Edits(const std::u32string& a, const std::u32string& b, std::int32_t limit) {
  const auto n = static_cast<std::int32_t>(a.size()), m = static_cast<std::int32_t>(b.size());
  if (std::abs(n - m) > limit) return limit + 1;
  std::vector<std::int32_t> before(static_cast<std::size_t>(m + 1)), last(before.size()),
      row(before.size());
  for (std::int32_t j = 0; j <= m; ++j) last[static_cast<std::size_t>(j)] = j;
  for (std::int32_t i = 1; i <= n; ++i) {
    row[0] = i;
    std::int32_t smallest = i;
    for (std::int32_t j = 1; j <= m; ++j) {
      const auto J = static_cast<std::size_t>(j);
      const std::int32_t cost = a[static_cast<std::size_t>(i - 1)] == b[J - 1] ? 0 : 1;
      std::int32_t d = std::min({last[J] + 1, row[J - 1] + 1, last[J - 1] + cost});
      if (i > 1 && j > 1 && a[static_cast<std::size_t>(i - 1)] == b[J - 2] &&
          a[static_cast<std::size_t>(i - 2)] == b[J - 1])
        d = std::min(d, before[J - 2] + 1);
      row[J] = d;
      smallest = std::min(smallest, d);
    }
    if (smallest > limit) return limit + 1;
    std::swap(before, last);
    std::swap(last, row);
  }
  return std::min(last[static_cast<std::size_t>(m)], limit + 1);
}

// How many edits two keys of these lengths may be apart and still be near.
std::int32_t EditsAllowed(std::size_t length) {
  return length >= kTwoEditsLength ? 2 : length >= kOneEditLength ? 1 : 0;
}

// The strings one or two deletions make of a key, by their hashes: a key within d edits of
// another shares such a string with it, each side deleting at most d characters.
class Deletions {
 public:
  static constexpr std::size_t kLongest = 48;  // longer texts are no keys to mistype

  template <typename F>
  static void Each(const std::u32string& s, std::int32_t most, F&& take) {
    const std::size_t n = s.size();
    std::array<std::uint64_t, kLongest + 1> prefix{};
    for (std::size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] * kBase + s[i] + 1;
    const auto part = [&](std::size_t from, std::size_t to) {
      return prefix[to] - prefix[from] * Power(to - from);
    };
    const auto join = [](std::uint64_t left, std::uint64_t right, std::size_t rightLength) {
      return left * Power(rightLength) + right;
    };
    take(Mix(prefix[n], n));
    if (most < 1) return;
    for (std::size_t i = 0; i < n; ++i) {
      take(Mix(join(prefix[i], part(i + 1, n), n - i - 1), n - 1));
      if (most < 2) continue;
      for (std::size_t j = i + 1; j < n; ++j)
        take(Mix(join(join(prefix[i], part(i + 1, j), j - i - 1), part(j + 1, n), n - j - 1),
                 n - 2));
    }
  }

 private:
  static constexpr std::uint64_t kBase = 0x100000001b3ull;
  static std::uint64_t Power(std::size_t k) {
    static const auto powers = [] {
      std::array<std::uint64_t, kLongest + 1> p{};
      p[0] = 1;
      for (std::size_t i = 1; i <= kLongest; ++i) p[i] = p[i - 1] * kBase;
      return p;
    }();
    return powers[k];
  }
  static std::uint64_t Mix(std::uint64_t h, std::size_t length) {
    h ^= length * 0x9e3779b97f4a7c15ull;
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
    return h ^ (h >> 31);
  }
};

// The typo pass: the keys still without a near candidate against every candidate, through the
// deletion strings of both. Edits are counted with case, form, spaces and punctuation
// forgiven, not zeros: a mistyped digit would otherwise change which zeros lead a number.
void FindTypos(const std::vector<std::array<std::u32string, 5>>& keyForms,
               const std::vector<std::string>& candidates, std::vector<Best>& best) {
  std::unordered_map<std::uint64_t, std::vector<std::int32_t>> index;
  std::size_t shortest = Deletions::kLongest + 1;
  for (std::size_t k = 0; k < keyForms.size(); ++k) {
    const std::u32string& form = keyForms[k][kTypoForm];
    if (best[k].candidate >= 0 || best[k].tied || form.size() > Deletions::kLongest) continue;
    const std::int32_t allowed = EditsAllowed(form.size());
    if (allowed == 0) continue;
    shortest = std::min(shortest, form.size());
    Deletions::Each(form, allowed, [&](std::uint64_t h) {
      std::vector<std::int32_t>& keys = index[h];
      if (keys.empty() || keys.back() != static_cast<std::int32_t>(k))
        keys.push_back(static_cast<std::int32_t>(k));
    });
  }
  if (index.empty()) return;
  std::vector<std::int32_t> met;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    const std::u32string form = Normal32(candidates[c], Forgiven(Nearness::Punctuation));
    const std::int32_t allowed = EditsAllowed(form.size());
    if (allowed == 0 || form.size() > Deletions::kLongest || form.size() + 2 < shortest) continue;
    met.clear();
    Deletions::Each(form, allowed, [&](std::uint64_t h) {
      if (const auto found = index.find(h); found != index.end())
        met.insert(met.end(), found->second.begin(), found->second.end());
    });
    std::sort(met.begin(), met.end());
    met.erase(std::unique(met.begin(), met.end()), met.end());
    for (const std::int32_t k : met) {
      const std::u32string& key = keyForms[static_cast<std::size_t>(k)][kTypoForm];
      const std::int32_t limit = std::min(allowed, EditsAllowed(key.size()));
      const std::int32_t edits = Edits(key, form, limit);
      if (edits >= 1 && edits <= limit)
        best[static_cast<std::size_t>(k)].Offer(static_cast<std::int32_t>(c),
                                                static_cast<std::int32_t>(Nearness::Typo), edits);
    }
  }
}

std::string Joined(const std::vector<std::string>& words, const char* between, const char* last) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i)
    text += (i == 0 ? "" : i + 1 == words.size() ? last : between) + words[i];
  return text;
}

}  // namespace

std::vector<NearKey> FindNearKeys(const std::vector<std::string>& keys,
                                  const std::vector<std::string>& candidates) {
  std::vector<NearKey> found(keys.size());
  if (keys.empty() || candidates.empty()) return found;
  std::vector<std::array<std::u32string, 5>> keyForms;
  keyForms.reserve(keys.size());
  std::array<std::unordered_map<std::u32string, std::vector<std::int32_t>, U32Hash>, 5> index;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    keyForms.push_back(Forms(keys[k]));
    for (std::size_t level = 0; level < 5; ++level)
      index[level][keyForms.back()[level]].push_back(static_cast<std::int32_t>(k));
  }
  std::vector<Best> best(keys.size());
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    const std::array<std::u32string, 5> forms = Forms(candidates[c]);
    for (std::size_t level = 0; level < 5; ++level)
      if (const auto hit = index[level].find(forms[level]); hit != index[level].end())
        for (const std::int32_t k : hit->second)
          best[static_cast<std::size_t>(k)].Offer(static_cast<std::int32_t>(c),
                                                  static_cast<std::int32_t>(level + 1));
  }
  FindTypos(keyForms, candidates, best);
  for (std::size_t k = 0; k < keys.size(); ++k)
    if (best[k].candidate >= 0 && !best[k].tied)
      found[k] = {best[k].candidate, static_cast<Nearness>(best[k].level), best[k].edits};
  return found;
}

std::string NearReason(const std::string& a, const std::string& b, const NearKey& near) {
  if (!near.Found()) return {};
  if (near.level == Nearness::Typo) return near.edits == 1 ? "one edit" : "two edits";
  const unsigned forgiven = Forgiven(near.level);
  std::vector<std::string> words;
  for (unsigned t = 0; t < 5; ++t) {
    const unsigned without = forgiven & ~(1u << t);
    if ((forgiven & (1u << t)) && Normal32(a, without) != Normal32(b, without))
      words.push_back(kWords[t]);
  }
  if (words.empty()) words.push_back(kWords[static_cast<std::size_t>(near.level) - 1]);
  return Joined(words, ", ", " and ");
}

std::string NearReason(const std::vector<std::string>& a, const std::vector<std::string>& b,
                       const std::vector<std::string>& columns, const NearKey& near) {
  std::string joinedA, joinedB;
  for (const std::string& part : a) joinedA += part;
  for (const std::string& part : b) joinedB += part;
  const std::string whole = NearReason(joinedA, joinedB, near);
  if (a.size() < 2 || a.size() != b.size() || columns.size() != a.size()) return whole;
  // Each part that differs, explained by itself; a difference that crosses parts is told
  // for the whole key.
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    NearKey part = near;
    bool explained = false;
    for (std::int32_t level = 1; level <= 5 && !explained; ++level)
      if (Normal32(a[i], Forgiven(static_cast<Nearness>(level))) ==
          Normal32(b[i], Forgiven(static_cast<Nearness>(level)))) {
        part.level = static_cast<Nearness>(level);
        explained = true;
      }
    if (!explained) {
      const std::u32string x = Normal32(a[i], Forgiven(Nearness::Punctuation));
      const std::u32string y = Normal32(b[i], Forgiven(Nearness::Punctuation));
      part.level = Nearness::Typo;
      part.edits = Edits(x, y, 2);
      explained = part.edits <= 2;
    }
    if (!explained) return whole;
    parts.push_back(columns[i] + ": " + NearReason(a[i], b[i], part));
  }
  return parts.empty() ? whole : Joined(parts, "; ", "; ");
}

}  // namespace merge
