// How a run reads keys and writes its result through the office, in two ways that write the
// same cells: in bulk (the default) and cell by cell as the described run does (the
// reference, --exact-calls). The run's own steps around them are the same either way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "merge/Matching.hpp"
#include "merge/Parameters.hpp"
#include "merge/Phase.hpp"
#include "store/UClc.hpp"

namespace merge {

// Trims characters of code 32 or less from both ends, then upper-cases by Unicode rules
// unless the match is case-sensitive.
std::string KeyPart(const std::string& cellText, bool caseSensitive);

// A row's key from its link cells' texts, added in the links' order, joined without a
// separator; rows are matched by its digest.
class RowKey {
 public:
  explicit RowKey(bool caseSensitive) : caseSensitive_(caseSensitive) {}
  void Add(const std::string& cellText) { key_ += KeyPart(cellText, caseSensitive_); }
  std::string Digest() const;

 private:
  bool caseSensitive_;
  std::string key_;
};

// What both ways work with.
struct CopyContext {
  store::clc& store;
  const Parameters& parameters;
  // The add columns copied (those the main sheet has room for) and as what: both ways, and
  // every row either writes, read this one plan.
  store::CopyPlan plan;
  std::function<void()> checkStop;           // raises at a safe point once a stop was asked for
  std::function<void()> step;                // one more row's key read; a safe point too
  std::function<void(Phase)> enter;          // a phase of the run begins
  std::function<void(std::int32_t)> copied;  // so many more rows copied
};

class CopyPath {
 public:
  virtual ~CopyPath() = default;
  // The texts of rows first..last (zero-based) of a sheet's columns (zero-based), one vector
  // per column, as the cells show them; `step` is called once per row.
  virtual std::vector<std::vector<std::string>> KeyTexts(std::int32_t book, std::int32_t sheet,
                                                         const std::vector<std::int32_t>& columns,
                                                         std::int32_t first, std::int32_t last) = 0;
  // Before the other sheets of the main book go; `temporary` is the result's file.
  virtual void Begin(const std::string& temporary) = 0;
  virtual void RemoveSheet(std::int32_t sheet) = 0;
  // Copies add rows into main rows of the main book's only sheet, ascending main rows.
  virtual void CopyRows(const std::vector<RowPair>& pairs) = 0;
  // The whole result into the temporary file.
  virtual void Store(const std::string& temporary) = 0;
  // The length in characters of the longest text of the result, where the work so far tells
  // it: the main sheet's texts as read with its keys and the texts copied into it.
  virtual std::optional<std::size_t> LongestText() const = 0;
};

std::unique_ptr<CopyPath> BulkCopy(const CopyContext& context);
std::unique_ptr<CopyPath> CellByCellCopy(const CopyContext& context);

}  // namespace merge
