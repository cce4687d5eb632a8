#include "merge/CopyPath.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "merge/Umd5.hpp"

namespace merge {

std::string KeyPart(const std::string& cellText, bool caseSensitive) {
  std::size_t begin = 0, end = cellText.size();
  while (begin < end && static_cast<unsigned char>(cellText[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(cellText[end - 1]) <= 32) --end;
  std::string part = cellText.substr(begin, end - begin);
  if (caseSensitive) return part;
  std::string upper;
  icu::UnicodeString::fromUTF8(part).toUpper(icu::Locale::getDefault()).toUTF8String(upper);
  return upper;
}

std::string RowKey::Digest() const {
  return KeyDigest(key_);
}

namespace {

// One add row into one main row, a call per cell, as the plan says.
void CopyCellByCell(const CopyContext& c, const RowPair& pair) {
  const Parameters& p = c.parameters;
  c.store.CopyRow(p.AddBook, p.MainBook, p.AddSheet, 0, pair.second + 1, pair.first + 1,
                  p.AddThereColumn, &c.plan);
}

// Few office calls: each table's keys from one export of its sheet, the add rows read in
// blocks as first needed, the copies written in blocks of consecutive rows.
class Bulk : public CopyPath {
 public:
  explicit Bulk(const CopyContext& context) : c_(context) {}

  std::vector<std::vector<std::string>> KeyTexts(std::int32_t book, std::int32_t sheet,
                                                 const std::vector<std::int32_t>& columns,
                                                 std::int32_t first, std::int32_t last) override {
    std::vector<std::int32_t> oneBased;
    for (const std::int32_t column : columns) oneBased.push_back(column + 1);
    // For an xlsx result the main sheet's whole export passes by: its longest text is known
    // with its keys.
    const bool longest =
        book == c_.parameters.MainBook && c_.parameters.Format == ResultFormat::Xlsx;
    std::vector<std::vector<std::string>> texts = c_.store.ColumnsTexts(
        book, sheet, oneBased, first + 1, last + 1, longest ? &mainLongest_ : nullptr);
    for (std::int32_t r = first; r <= last; ++r) c_.step();
    return texts;
  }

  void Begin(const std::string&) override {}

  // Nothing reads the result between the removals and its one store at the end.
  void RemoveSheet(std::int32_t sheet) override {
    c_.store.DeleteSheet(c_.parameters.MainBook, sheet, false);
  }

  void CopyRows(const std::vector<RowPair>& pairs) override;

  void Store(const std::string& temporary) override {
    c_.store.SaveBookAs(c_.parameters.MainBook, temporary, StoreFormat(c_.parameters.Format));
  }

  std::optional<std::size_t> LongestText() const override {
    if (!mainLongest_) return std::nullopt;
    return std::max(*mainLongest_, copiedLongest_);
  }

 private:
  static constexpr std::int32_t kReadRows = 10000;  // rows per block read of the add sheet
  // Rows per block write into the main sheet. Each write costs the office more the larger the
  // sheet, so fewer, larger blocks win on large sheets (bench/README.md has the figures).
  static constexpr std::int32_t kWriteRows = 20000;

  // An add row as the copies write it; rows past the used area read as empty, as a
  // single-row read of them does.
  const std::vector<store::CellCopy>& AddRow(std::int32_t row);
  // Whether the target cells of a row hold anything; `known` false when the office cannot
  // tell, and then any row might.
  struct InUse {
    bool known = false;
    std::int32_t top = 0;
    std::vector<bool> rows;
    bool Holds(std::int32_t row) const {
      return known && rows[static_cast<std::size_t>(row - top)];
    }
    bool EmptyBetween(std::int32_t from, std::int32_t to) const;
  };
  InUse TargetsInUse(std::int32_t top, std::int32_t bottom);
  void CopyEach(const std::vector<RowPair>& pairs, std::size_t from, std::size_t to);

  CopyContext c_;
  std::vector<std::vector<store::CellCopy>> addRows_;
  std::vector<bool> addBlocksRead_;
  std::optional<std::size_t> mainLongest_;  // characters
  std::size_t copiedLongest_ = 0;
};

const std::vector<store::CellCopy>& Bulk::AddRow(std::int32_t row) {
  const Parameters& p = c_.parameters;
  const std::int32_t rows = c_.store.Books.at(static_cast<std::size_t>(p.AddBook))
                                .SheetList.at(static_cast<std::size_t>(p.AddSheet))
                                .RowCount;
  if (addRows_.empty()) {
    addRows_.resize(static_cast<std::size_t>(rows) + 1);  // the last: an empty row
    addRows_.back().assign(c_.plan.columns.size(), {std::string(), -1});
    addBlocksRead_.assign(static_cast<std::size_t>((rows + kReadRows - 1) / kReadRows), false);
  }
  if (row < 0 || row >= rows) return addRows_.back();
  const auto block = static_cast<std::size_t>(row / kReadRows);
  if (!addBlocksRead_[block]) {
    c_.checkStop();
    const std::int32_t top = static_cast<std::int32_t>(block) * kReadRows;
    const std::int32_t bottom = std::min(rows, top + kReadRows) - 1;
    std::vector<std::vector<store::CellCopy>> read = c_.store.ReadCopies(
        p.AddBook, p.AddSheet, c_.plan.columns, top, bottom, p.MainBook, c_.plan.as);
    for (std::size_t i = 0; i < read.size(); ++i) {
      for (const store::CellCopy& cell : read[i])
        if (cell.value.IsString() && cell.value.AsString().size() > copiedLongest_)
          copiedLongest_ = std::max(copiedLongest_, store::CharacterCount(cell.value.AsString()));
      addRows_[static_cast<std::size_t>(top) + i] = std::move(read[i]);
    }
    addBlocksRead_[block] = true;
  }
  return addRows_[static_cast<std::size_t>(row)];
}

bool Bulk::InUse::EmptyBetween(std::int32_t from, std::int32_t to) const {
  if (!known) return from > to;
  for (std::int32_t r = from; r <= to; ++r)
    if (Holds(r)) return false;
  return true;
}

Bulk::InUse Bulk::TargetsInUse(std::int32_t top, std::int32_t bottom) {
  const std::int32_t left = c_.parameters.AddThereColumn - 1;
  const auto width = static_cast<std::int32_t>(c_.plan.columns.size());
  InUse inUse;
  inUse.top = top;
  try {
    inUse.rows = c_.store.RowsInUse(c_.parameters.MainBook, 0, left, top, left + width - 1, bottom);
    inUse.known = true;
  } catch (const automation::Refused&) {
    // cannot tell: blocks cover runs of matched rows only
  }
  return inUse;
}

void Bulk::CopyEach(const std::vector<RowPair>& pairs, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) CopyCellByCell(c_, pairs[i]);
}

void Bulk::CopyRows(const std::vector<RowPair>& pairs) {
  if (pairs.empty() || c_.plan.columns.empty()) return;
  // A block write clears its whole area first, notes included. A block may therefore run on
  // over rows without a match only where their target cells are empty, and a matched row whose
  // target cells hold anything is copied cell by cell, as the reference does.
  const InUse inUse = TargetsInUse(pairs.front().first, pairs.back().first);
  const std::vector<store::CellCopy> emptyRow(c_.plan.columns.size(), {std::string(), -1});
  for (std::size_t first = 0, end = 0; first < pairs.size(); first = end) {
    c_.checkStop();
    const std::int32_t row = pairs[first].first;
    end = first + 1;
    if (inUse.Holds(row)) {
      CopyEach(pairs, first, end);
      c_.copied(1);
      continue;
    }
    while (end < pairs.size() && pairs[end].first - row < kWriteRows &&
           !inUse.Holds(pairs[end].first) &&
           inUse.EmptyBetween(pairs[end - 1].first + 1, pairs[end].first - 1))
      ++end;
    // The rows as they are kept: a block of 20,000 rows is not copied on its way out.
    std::vector<const std::vector<store::CellCopy>*> block;
    for (std::size_t i = first; i < end; ++i) {
      if (i > first)
        for (std::int32_t r = pairs[i - 1].first + 1; r < pairs[i].first; ++r)
          block.push_back(&emptyRow);
      block.push_back(&AddRow(pairs[i].second));
    }
    try {
      c_.store.WriteCopies(c_.parameters.MainBook, 0, c_.parameters.AddThereColumn - 1, row, block);
    } catch (const automation::Refused&) {
      // Protected cells refuse a block write but take single ones, as the reference writes.
      CopyEach(pairs, first, end);
    }
    c_.copied(static_cast<std::int32_t>(end - first));
  }
}

// One office call per key cell and per copied cell; the book is stored as the result before
// the removals and after each, as the described run does.
class CellByCell : public CopyPath {
 public:
  explicit CellByCell(const CopyContext& context) : c_(context) {}

  std::vector<std::vector<std::string>> KeyTexts(std::int32_t book, std::int32_t sheet,
                                                 const std::vector<std::int32_t>& columns,
                                                 std::int32_t first, std::int32_t last) override {
    std::vector<std::vector<std::string>> texts(columns.size());
    for (std::int32_t r = first; r <= last; ++r) {
      for (std::size_t k = 0; k < columns.size(); ++k)
        texts[k].push_back(c_.store.CellText(book, sheet, columns[k] + 1, r + 1));
      c_.step();
    }
    return texts;
  }

  void Begin(const std::string& temporary) override {
    c_.checkStop();
    c_.enter(Phase::StoringTarget);
    c_.store.SaveBookAs(c_.parameters.MainBook, temporary, StoreFormat(c_.parameters.Format));
  }

  void RemoveSheet(std::int32_t sheet) override {
    c_.store.DeleteSheet(c_.parameters.MainBook, sheet, true);
  }

  void CopyRows(const std::vector<RowPair>& pairs) override {
    for (const RowPair& pair : pairs) {
      c_.checkStop();
      CopyCellByCell(c_, pair);
      c_.copied(1);
    }
  }

  // The book stored as the result already, in the result's format.
  void Store(const std::string&) override { c_.store.SaveBook(c_.parameters.MainBook); }

  // Nothing read so far tells: the result is asked.
  std::optional<std::size_t> LongestText() const override { return std::nullopt; }

 private:
  CopyContext c_;
};

}  // namespace

std::unique_ptr<CopyPath> BulkCopy(const CopyContext& context) {
  return std::make_unique<Bulk>(context);
}

std::unique_ptr<CopyPath> CellByCellCopy(const CopyContext& context) {
  return std::make_unique<CellByCell>(context);
}

}  // namespace merge
