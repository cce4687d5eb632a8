// Why rows did not match, against the in-memory office: near keys named and, when asked,
// taken; several add rows of one key taken by a rule; the add rows nobody took; the lists.
#include <gtest/gtest.h>

#include <map>

#include "merge/MergeRun.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

using merge::Duplicates;
using merge::NearMatch;

// A main table of keys in A (title row 0) and an add table of keys in A with a value in B.
class Matching : public testing::Test {
 protected:
  void Tables(const std::vector<std::vector<std::string>>& main,
              const std::vector<std::vector<std::string>>& add) {
    fake::Workbook m = fake::Workbook::WithSheets({"Main"}),
                   a = fake::Workbook::WithSheets({"Add"});
    const auto put = [](fake::Sheet& sheet, const std::vector<std::vector<std::string>>& rows) {
      for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
          if (!rows[r][c].empty())
            sheet.At(static_cast<std::int32_t>(c), static_cast<std::int32_t>(r)).text = rows[r][c];
    };
    put(m[0], main);
    put(a[0], add);
    office.files[office::FileNameToUrl("/data/main.ods")] = m;
    office.files[office::FileNameToUrl("/data/add.ods")] = a;
  }

  // Runs with the key in A (and B, for two links); the add value each main row received.
  std::vector<std::string> Run(int links = 1) {
    store::clc books(office);
    merge::MergeRun run(books, files);
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs = {{0, 0}};
    if (links == 2) pairs.push_back({1, 1});
    p.MainBook = p.AddBook = -1;  // a store of its own
    EXPECT_TRUE(merge::SetUp(books,
                             {.MainFile = "/data/main.ods",
                              .AddFile = "/data/add.ods",
                              .MainTitleRow = 0,
                              .AddTitleRow = 0,
                              .MainFirstRow = 1,
                              .Links = pairs,
                              .AddThereColumn = 5},
                             p));
    p.Target = "/out/r.ods";
    report = run.Run(p);
    std::vector<std::string> received;
    if (!report.Ok) return received;
    const fake::Sheet& sheet = *office.files.at(office::FileNameToUrl("/out/r.ods")).sheets[0];
    for (std::int32_t r = 1; r <= sheet.EndRow(); ++r) {
      const fake::Cell* cell = sheet.Find(4 + links, r);  // the add table's value column
      received.push_back(cell ? cell->text : "");
    }
    return received;
  }

  fake::FakeOffice office;
  fake::FakeFiles files{office};
  merge::Parameters p;
  merge::RunReport report;
};

// Near keys are named beside the rows that found nothing; with --near the ones near by form
// are taken, typos only with --near=typos; an exact key always wins over a near one.
TEST_F(Matching, NearKeysAreNamedAndTakenOnlyWhenAsked) {
  Tables({{"Key"}, {"C-042"}, {"acme  ltd"}, {"Hamburgr"}, {"C-42"}, {"Nothing"}},
         {{"Key", "Value"},
          {"C-42", "zeros"},
          {"ACME LTD", "acme"},
          {"Hamburger", "typo"},
          {"D.42", "dot"}});
  p.CaseSensitive = true;
  p.ListDetails = true;
  EXPECT_EQ(Run(), (std::vector<std::string>{"", "", "", "zeros", ""}));
  ASSERT_EQ(report.Unmatched.size(), 4u);
  const std::vector<std::pair<std::int32_t, std::string>> hints = {
      {1, "leading zeros"}, {2, "letter case and spaces"}, {3, "one edit"}, {-1, ""}};
  for (std::size_t i = 0; i < hints.size(); ++i) {
    EXPECT_EQ(report.Unmatched[i].nearest.addRow, hints[i].first) << i;
    EXPECT_EQ(report.Unmatched[i].nearest.why, hints[i].second) << i;
  }
  EXPECT_EQ(report.Warnings.back(),
            "4 main rows found no add row: row 2 (\"C-042\"): nearest add key \"C-42\" in add "
            "row 2 — leading zeros; row 3 (\"acme  ltd\"): nearest add key \"ACME LTD\" in add "
            "row 3 — letter case and spaces; row 4 (\"Hamburgr\"): nearest add key "
            "\"Hamburger\" in add row 4 — one edit");

  for (const auto& [near, expected, count] :
       {std::tuple{NearMatch::Forms, std::vector<std::string>{"zeros", "acme", "", "zeros", ""}, 2},
        std::tuple{NearMatch::Typos, std::vector<std::string>{"zeros", "acme", "typo", "zeros", ""},
                   3}}) {
    p.Near = near;
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(report.RowsMatched, count + 1);
    EXPECT_EQ(report.RowsNear, count);
    ASSERT_EQ(report.NearMatches.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(report.NearMatches[0].took.why, "leading zeros");
  }
  EXPECT_EQ(report.Warnings[report.Warnings.size() - 2],
            "1 main row found no add row: row 6 (\"Nothing\")");
  EXPECT_EQ(report.Warnings.back().rfind("3 main rows matched a near key: row 2 (\"C-042\") took "
                                         "add row 2 (\"C-42\") — leading zeros, row 3",
                                         0),
            0u)
      << report.Warnings.back();
}

// Several add rows of one key: the row the search meets (as ever), the first, the last, or no
// run at all, naming the keys and their rows; a near key follows the same rule.
TEST_F(Matching, SeveralAddRowsOfOneKeyAreTakenByTheRule) {
  Tables({{"Key"}, {"C-17"}, {"B-9"}, {"C17"}},
         {{"Key", "Value"}, {"C-17", "one"}, {"B-9", "b"}, {"C-17", "two"}, {"C-17", "three"}});
  p.Near = NearMatch::Forms;
  const std::vector<std::string> asFound = Run();
  ASSERT_EQ(asFound.size(), 3u);
  for (const auto& [rule, first] :
       {std::pair{Duplicates::First, "one"}, std::pair{Duplicates::Last, "three"}}) {
    p.DuplicateRule = rule;
    EXPECT_EQ(Run(), (std::vector<std::string>{first, "b", first}));
  }
  p.DuplicateRule = Duplicates::AsFound;
  EXPECT_EQ(Run(), asFound);  // the default stays as it was
  EXPECT_EQ(asFound[0], asFound[2]);

  p.DuplicateRule = Duplicates::Refuse;
  office.files.erase(office::FileNameToUrl("/out/r.ods"));
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(report.Error,
            "Several add rows with one key are refused, and 1 key the main table looks for "
            "occurs in more than one add row: \"C-17\" (add rows 2, 4 and 5)");
  EXPECT_FALSE(office.files.contains(office::FileNameToUrl("/out/r.ods")));
  EXPECT_TRUE(fake::Temporaries(office).empty());
}

// The lists: the unmatched rows with their nearest keys, the add rows nobody took, and every
// main row's outcome, each written as the result is.
TEST_F(Matching, TheListsNameEveryRow) {
  Tables({{"Key"}, {"C-042"}, {"A-1"}, {"=none"}},
         {{"Key", "Value"}, {"A-1", "a"}, {"C-42", "c"}, {"Z-26", "z"}});
  p.Near = NearMatch::Forms;
  p.UnmatchedFile = "/out/unmatched.csv";
  p.UnusedFile = "/out/unused.csv";
  p.MatchesFile = "/out/matches.csv";
  EXPECT_EQ(Run(), (std::vector<std::string>{"c", "a", ""}));
  EXPECT_EQ(files.texts["/out/unmatched.csv"], "row,A,nearest,why\n4,=none,,\n");
  EXPECT_EQ(files.texts["/out/unused.csv"], "row,A\n4,Z-26\n");
  EXPECT_EQ(files.texts["/out/matches.csv"],
            "row,A,outcome,add row,add A,why\n"
            "2,C-042,near,3,C-42,leading zeros\n"
            "3,A-1,exact,2,A-1,\n"
            "4,=none,none,,,\n");
}

// A key of two parts, one of them near: the reason names that part's column.
TEST_F(Matching, AKeyOfSeveralPartsNamesThePartThatDiffers) {
  Tables({{"Firm", "No"}, {"ACME", "C-042"}}, {{"Firm", "No", "Value"}, {"ACME", "C-42", "v"}});
  p.Near = NearMatch::Forms;
  EXPECT_EQ(Run(2), std::vector<std::string>{"v"});
  ASSERT_EQ(report.NearMatches.size(), 1u);
  EXPECT_EQ(report.NearMatches[0].took.why, "B: leading zeros");
}

}  // namespace
