// The batch command: its arguments, and its run against the in-memory office.
#include "cli/MergeCommand.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "office/uOpenOffice.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

using cli::ParseMergeArguments;
using cli::UsageError;

TEST(MergeArguments, RowsAreOneBasedAndTheFirstRowFollowsTheTitle) {
  auto o = ParseMergeArguments({"m.ods", "a.ods", "-o", "r.ods", "--link", "b=a", "--link", "C=D",
                                "--main-title-row", "2", "--add-title-row", "1", "--ignore-case",
                                "--main-sheet", "Data", "--add-sheet", "2"});
  EXPECT_EQ(o.mainFile, "m.ods");
  EXPECT_EQ(o.addFile, "a.ods");
  EXPECT_EQ(o.target, "r.ods");
  ASSERT_EQ(o.links.size(), 2u);
  EXPECT_EQ(o.links[0], std::make_pair(1, 0));
  EXPECT_EQ(o.links[1], std::make_pair(2, 3));
  EXPECT_EQ(o.mainTitleRow, 1);
  EXPECT_EQ(o.addTitleRow, 0);
  EXPECT_EQ(o.firstRow, 2);
  EXPECT_TRUE(o.ignoreCase);
  EXPECT_FALSE(o.exactCalls);
  EXPECT_TRUE(
      ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A", "--exact-calls"}).exactCalls);
  EXPECT_EQ(o.mainSheet, "Data");
  EXPECT_EQ(o.addSheet, "2");

  o = ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A"});
  EXPECT_EQ(o.firstRow, 0);
  EXPECT_EQ(o.mainTitleRow, -1);
  EXPECT_FALSE(o.ignoreCase);
  EXPECT_FALSE(o.officeTimeout);
  EXPECT_FALSE(o.verbose);
  o = ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A", "--main-title-row", "3",
                           "--first-row", "10", "--office-timeout", "90", "--verbose"});
  EXPECT_EQ(o.firstRow, 9);
  EXPECT_EQ(o.officeTimeout, 90);
  EXPECT_TRUE(o.verbose);

  o = ParseMergeArguments({"--link", "A=A", "-o", "r", "--", "-x.ods", "--add.ods"});
  EXPECT_EQ(o.mainFile, "-x.ods");
  EXPECT_EQ(o.addFile, "--add.ods");
}

TEST(MergeArguments, AnythingElseIsAUsageError) {
  const std::vector<std::vector<std::string>> bad = {
      {"m", "a", "--link", "A=A"},                                        // no target
      {"m", "a", "-o", "r"},                                              // no link
      {"m", "-o", "r", "--link", "A=A"},                                  // one file
      {"m", "a", "x", "-o", "r", "--link", "A=A"},                        // three files
      {"m", "a", "-o", "r", "--link", "A"},                               // no '='
      {"m", "a", "-o", "r", "--link", "1=A"},                             // not letters
      {"m", "a", "-o", "r", "--link", "A=A", "--first-row", "0"},         // rows start at 1
      {"m", "a", "-o", "r", "--link", "A=A", "--first-row", "2x"},        // not a number
      {"m", "a", "-o", "r", "--link", "A=A", "--main-title-row"},         // no value
      {"m", "a", "-o", "r", "--link", "A=A", "--colour", "red"},          // unknown option
      {"m", "a", "-o", "r", "--link", "A=A", "--office-timeout", "0"},    // no time at all
      {"m", "a", "-o", "r", "--link", "A=A", "--office-timeout", "1.5"},  // whole seconds
      {"m", "a", "-o", "r", "--link", "A=A", "--office-timeout", "1e9"},  // not a number
      {"m", "a", "-o", "r", "--link", "A=A", "--near=forms"},             // only typos
      {"m", "a", "-o", "r", "--link", "A=A", "--duplicates", "any"},      // no such rule
  };
  for (const auto& args : bad) EXPECT_THROW(ParseMergeArguments(args), UsageError);
  EXPECT_TRUE(ParseMergeArguments({"--help"}).help);
}

TEST(MergeArguments, ColumnListsAndResultChoices) {
  using Columns = std::vector<std::int32_t>;
  EXPECT_EQ(cli::ParseColumnList("B,D:F"), (Columns{1, 3, 4, 5}));
  EXPECT_EQ(cli::ParseColumnList("C,A"), (Columns{2, 0}));
  EXPECT_EQ(cli::ParseColumnList("b, aa:ac"), (Columns{1, 26, 27, 28}));
  EXPECT_EQ(cli::ParseColumnList("D:D"), (Columns{3}));
  // Past the last column XFD: refused before anything is made of the range.
  EXPECT_EQ(cli::ParseColumnList("XFD").back(), 16383);
  for (const char* bad : {"", "B,", ",B", "F:D", "1", "B:", "B-D", "B,,C", "XFE", "A:FXSHRXW"})
    EXPECT_THROW(cli::ParseColumnList(bad), UsageError) << bad;

  const cli::MergeOptions o =
      ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A", "--keep-values", "--copy", "C,A",
                           "--format", "xlsx", "--unmatched", "u.csv"});
  EXPECT_TRUE(o.keepValues);
  EXPECT_EQ(o.copyColumns, (Columns{2, 0}));
  EXPECT_EQ(o.format, merge::ResultFormat::Xlsx);
  EXPECT_EQ(o.unmatchedFile, "u.csv");
  const cli::MergeOptions m =
      ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A", "--near=typos", "--duplicates",
                           "first", "--unused", "n.csv", "--matches", "x.csv"});
  EXPECT_EQ(m.near, merge::NearMatch::Typos);
  EXPECT_EQ(m.duplicates, merge::Duplicates::First);
  EXPECT_EQ(m.unusedFile, "n.csv");
  EXPECT_EQ(m.matchesFile, "x.csv");
  EXPECT_FALSE(ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A"}).format);
  EXPECT_THROW(ParseMergeArguments({"m", "a", "-o", "r", "--link", "A=A", "--format", "pdf"}),
               UsageError);
}

class MergeCommand : public testing::Test {
 protected:
  void SetUp() override {
    fake::Workbook main = fake::Workbook::WithSheets({"Notes", "Data"});
    main[1].At(0, 0).text = "ID";
    main[1].At(1, 0).text = "Name";
    main[1].At(0, 1).text = "c-17";
    main[1].At(1, 1).text = "one";
    main[1].At(0, 2).text = "C-99";
    office.files[office::FileNameToUrl("/data/main.ods")] = main;
    fake::Workbook add = fake::Workbook::WithSheets({"Add"});
    add[0].At(0, 0).text = "Key";
    add[0].At(1, 0).text = "City";
    add[0].At(0, 1).text = "C-17";
    add[0].At(1, 1).text = "Lyon";
    office.files[office::FileNameToUrl("/data/add.ods")] = add;
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return cli::RunMerge(ParseMergeArguments(args), office, out, err, false, {&files, {}});
  }

  fake::FakeOffice office;
  fake::FakeFiles files{office};
  std::ostringstream out, err;
};

TEST_F(MergeCommand, MergesAndSummarises) {
  EXPECT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "/out/r", "--link", "A=A", "--main-sheet",
                 "Data", "--main-title-row", "1", "--add-title-row", "1", "--ignore-case"}),
            cli::kMerged)
      << err.str();
  // The file actually written, then the counts.
  EXPECT_EQ(out.str(), "Result: /out/r.ods\nDone: 1 of 2 main rows matched\n");
  const fake::Workbook& result = office.files.at(office::FileNameToUrl("/out/r.ods"));
  ASSERT_EQ(result.sheets.size(), 1u);
  EXPECT_EQ(result.sheets[0]->Find(4, 1)->text, "Lyon");  // column count 2 + 2 = D, then E
  EXPECT_EQ(result.sheets[0]->Find(3, 0)->text, "Key");
}

// A target named like another format is still .ods without --format, with a warning that
// names the option; with it, that format. --unmatched lists every row that found nothing.
TEST_F(MergeCommand, TheResultsFormatAndTheUnmatchedRows) {
  const std::vector<std::string> args = {
      "/data/main.ods", "/data/add.ods", "--link", "A=A", "--main-sheet", "2", "--ignore-case"};
  std::vector<std::string> xlsx = args;
  xlsx.insert(xlsx.end(), {"-o", "/out/r.xlsx"});
  ASSERT_EQ(Run(xlsx), cli::kMerged) << err.str();
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "Result: /out/r.xlsx.ods");
  EXPECT_NE(err.str().find("Warning: The result is an .ods file, as without --format; give "
                           "--format xlsx for an xlsx file.\n"),
            std::string::npos)
      << err.str();

  // The list is written as the result is: through a temporary file that takes its place.
  xlsx.insert(xlsx.end(), {"--format", "xlsx", "--unmatched", "/out/unmatched.csv"});
  ASSERT_EQ(Run(xlsx), cli::kMerged) << err.str();
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "Result: /out/r.xlsx");
  EXPECT_EQ(err.str().find("--format xlsx"), std::string::npos);
  ASSERT_EQ(files.texts.size(), 1u);
  EXPECT_EQ(files.texts["/out/unmatched.csv"], "row,A,nearest,why\n1,ID,,\n3,C-99,,\n");

  // A list that cannot be written fails the run: neither it nor the result is there.
  office.files.clear();
  SetUp();
  files.texts.clear();
  files.refuseWrite = true;
  xlsx.back() = "/out/again.csv";
  xlsx.insert(xlsx.end(), {"-o", "/out/again"});
  EXPECT_EQ(Run(xlsx), cli::kMergeFailed);
  EXPECT_NE(err.str().find("Cannot write"), std::string::npos) << err.str();
  EXPECT_TRUE(files.texts.empty());
  EXPECT_FALSE(office.files.contains(office::FileNameToUrl("/out/again.xlsx")));
  EXPECT_TRUE(fake::Temporaries(office).empty());
}

// Near keys taken are counted with the matched rows, and said how many.
TEST_F(MergeCommand, NearMatchesAreCountedAndSaid) {
  ASSERT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "/out/r", "--link", "A=A", "--main-sheet",
                 "2", "--near"}),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(out.str(), "Result: /out/r.ods\nDone: 1 of 3 main rows matched (1 near)\n");
  EXPECT_NE(err.str().find("Warning: 1 main row matched a near key: row 2 (\"c-17\") took add "
                           "row 2 (\"C-17\") — letter case.\n"),
            std::string::npos)
      << err.str();
}

TEST_F(MergeCommand, DrawsAProgressBarOnlyWhenAsked) {
  const std::vector<std::string> args = {
      "/data/main.ods", "/data/add.ods", "-o", "/out/r.ods", "--link", "A=A", "--main-sheet", "2"};
  const std::string warning =
      "Warning: 3 main rows found no add row: row 1 (\"ID\"); row 2 (\"c-17\"): nearest add key "
      "\"C-17\" in add row 2 — letter case; row 3 (\"C-99\").\n";
  ASSERT_EQ(Run(args), cli::kMerged);
  EXPECT_EQ(err.str(), warning);
  out.str("");
  err.str("");
  ASSERT_EQ(cli::RunMerge(ParseMergeArguments(args), office, out, err, true, {&files, {}}),
            cli::kMerged);
  const std::string bar = err.str();
  EXPECT_EQ(bar.rfind("\r[", 0), 0u) << bar;
  EXPECT_NE(bar.find("] 100%"), std::string::npos) << bar;
  EXPECT_EQ(bar.back(), '\n');  // the summary starts on a line of its own
  EXPECT_EQ(out.str(), "Result: /out/r.ods\nDone: 0 of 3 main rows matched\n");
}

TEST_F(MergeCommand, ExitStatusesOfEachFailure) {
  const std::vector<std::string> base = {"--link", "A=A", "--main-sheet", "2"};
  auto with = [&](std::vector<std::string> head) {
    head.insert(head.end(), base.begin(), base.end());
    return head;
  };
  EXPECT_EQ(Run(with({"/data/main.ods", "/data/add.ods", "-o", "/data/main.ods"})), cli::kUsage);
  EXPECT_NE(err.str().find("Illegal target file name"), std::string::npos);
  EXPECT_EQ(Run(with({"/data/missing.ods", "/data/add.ods", "-o", "/out/r.ods"})),
            cli::kCannotOpen);
  EXPECT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods", "--link", "A=A",
                 "--main-sheet", "Nope"}),
            cli::kCannotOpen);
  EXPECT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods", "--link", "A=A",
                 "--add-sheet", "3"}),
            cli::kCannotOpen);
  // A column the office's sheets do not have.
  office.columnLimit = 16384;
  EXPECT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods", "--link", "A=XFE",
                 "--main-sheet", "2"}),
            cli::kUsage);
  EXPECT_EQ(err.str(), "The link column XFE is beyond the office's last column XFD.\n");
  EXPECT_EQ(Run(with({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods", "--link", "XFD=A"})),
            cli::kMerged);
  EXPECT_NE(err.str().find("Warning: The link column XFD of the main table is empty"),
            std::string::npos);
  office.FailOn("StoreAsURL");
  EXPECT_EQ(Run(with({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods"})), cli::kMergeFailed);
  EXPECT_NE(err.str().find("The merge failed"), std::string::npos);
  office.available = false;
  EXPECT_EQ(Run(with({"/data/main.ods", "/data/add.ods", "-o", "/out/r.ods"})), cli::kNoOffice);
  // The fixed sentence, then the cause.
  EXPECT_EQ(err.str().substr(err.str().find('\n') + 1),
            "Invalid class string (no office installed)\n");
}

// No output ever writes over a file the run reads: the result (named whole or by its stem,
// under each format) and every list, aimed at both tables and the setup by name, by
// stem, through ".." and through a symbolic link, with and without a setup. Each is refused
// with exit 2 before anything is opened, and every input keeps its bytes.
TEST_F(MergeCommand, NoOutputEverWritesOverAnInput) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("tabloom-outputs-" + std::to_string(::getpid()));
  fs::create_directories(dir / "sub");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir / "sub");
  const std::string setup = (dir / "june.tabloom").string();
  merge::SavedSetup saved;
  saved.Links = {{0, 0}};
  saved.Target = (dir / "saved").string();
  merge::WriteSetup(saved, setup);
  struct Input {
    std::string name;  // in dir
    const char* format;
  };
  // Two pairs of tables: every result format names one of them.
  const std::vector<std::pair<Input, Input>> pairs = {
      {{"orders.csv", "csv"}, {"customers.ods", ""}},
      {{"orders.xlsx", "xlsx"}, {"customers.ods", "ods"}}};
  int rows = 0;
  for (const auto& [main, add] : pairs)
    for (const bool withSetup : {false, true}) {
      std::vector<Input> inputs = {main, add};
      if (withSetup) inputs.push_back({"june.tabloom", nullptr});
      const auto bytes = [&dir](const Input& input) {
        std::ifstream in(dir / input.name);
        return std::string(std::istreambuf_iterator<char>(in), {});
      };
      std::vector<std::string> before;
      for (const Input& input : inputs) {
        if (input.format) std::ofstream(dir / input.name) << "the bytes of " << input.name;
        fs::create_symlink(dir / input.name, dir / ("alias-" + input.name));
        before.push_back(bytes(input));
      }
      for (const Input& input : inputs)
        for (const std::string spelling : {"name", "stem", "..", "link"})
          for (const std::string output : {"-o", "--unmatched", "--unused", "--matches"}) {
            const bool list = output != "-o";
            if (!list && !input.format) continue;      // no result format ends in .tabloom
            if (list && spelling == "stem") continue;  // a list's name is taken as it is
            const std::string stem = fs::path(input.name).stem().string();
            const bool whole = list || spelling == "name" || spelling == "..";
            const std::string base = spelling == "link" ? "alias-" + (whole ? input.name : stem)
                                                        : (whole ? input.name : stem);
            const std::string named = spelling == ".." ? "../" + base : (dir / base).string();
            std::vector<std::string> args = {"--link", "A=A"};
            if (withSetup) args.insert(args.end(), {"--setup", setup});
            if (list) {
              args.insert(args.end(), {"-o", (dir / "out").string(), output, named});
            } else {
              args.insert(args.end(), {"-o", named});
              if (*input.format) args.insert(args.end(), {"--format", input.format});
            }
            args.insert(args.end(), {"--", (dir / main.name).string(), (dir / add.name).string()});
            SCOPED_TRACE(testing::PrintToString(args));
            EXPECT_EQ(Run(args), cli::kUsage) << err.str();
            EXPECT_EQ(err.str().rfind(list ? "Illegal file name for " + output + ": "
                                           : "Illegal target file name: ",
                                      0),
                      0u)
                << err.str();
            for (std::size_t i = 0; i < inputs.size(); ++i)
              EXPECT_EQ(bytes(inputs[i]), before[i]) << inputs[i].name;
            ++rows;
          }
      for (const Input& input : inputs) fs::remove(dir / ("alias-" + input.name));
    }
  // Two outputs that are one file.
  EXPECT_EQ(Run({"/data/main.ods", "/data/add.ods", "-o", "r", "--format", "csv", "--unmatched",
                 "./r.csv", "--link", "A=A"}),
            cli::kUsage);
  EXPECT_NE(err.str().find("(it is the result file)"), std::string::npos) << err.str();
  EXPECT_GT(rows, 100);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 0);
  fs::current_path(cwd);
  fs::remove_all(dir);
}

// A saved setup runs as it was saved; what the command line gives takes its place; what no
// longer fits its files is named, with the exit status of the same fault given as options.
TEST_F(MergeCommand, ASavedSetupRunsWithTheCommandLineWinning) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("tabloom-cli-setup-" + std::to_string(::getpid()) + ".tabloom");
  merge::SavedSetup saved;
  saved.Main = {"/data/main.ods", {}, "Data", 0};
  saved.Add = {"/data/add.ods", {}, "Add", 0};
  saved.MainFirstRow = 1;
  saved.Links = {{0, 0}};
  saved.Target = "/out/s";
  merge::WriteSetup(saved, file);
  EXPECT_EQ(Run({"--setup", file.string()}), cli::kMerged) << err.str();
  EXPECT_EQ(out.str(), "Result: /out/s.ods\nDone: 0 of 2 main rows matched\n");
  EXPECT_EQ(Run({"--setup", file.string(), "--ignore-case", "-o", "/out/t", "--verbose"}),
            cli::kMerged);
  EXPECT_EQ(out.str(), "Result: /out/t.ods\nDone: 1 of 2 main rows matched\n");
  // The files merged are named, as the setup led to them.
  EXPECT_EQ(err.str().rfind("Main table: /data/main.ods\nAdd table: /data/add.ods\n", 0), 0u)
      << err.str();

  saved.Main.Sheet = "Renamed";
  saved.Links = {{5, 0}};
  merge::WriteSetup(saved, file);
  EXPECT_EQ(Run({"--setup", file.string()}), cli::kCannotOpen);
  EXPECT_EQ(err.str(), "The sheet \"Renamed\" is not in the main table.\n");
  EXPECT_EQ(Run({"--setup", file.string(), "--main-sheet", "2"}), cli::kUsage);
  EXPECT_EQ(err.str(), "The link column F is beyond the main table's last used column B.\n");

  std::ofstream(file, std::ios::trunc) << "{ damaged";
  EXPECT_EQ(Run({"--setup", file.string()}), cli::kCannotOpen);
  EXPECT_EQ(err.str(), file.string() + " is not a Tabloom setup file.\n");
  std::filesystem::remove(file);
  EXPECT_THROW(ParseMergeArguments({"--setup", "s.tabloom", "/data/main.ods"}), UsageError);
}

// The command the windows copy is read back by the parser as the same setup.
TEST(MergeArguments, TheCopiedCommandIsTheSetupItCameFrom) {
  merge::SavedSetup s;
  s.Main = {"-m a'b.ods", {}, "2", 0};
  s.Add = {"add.csv", {}, "Sheet 1", 2};
  s.MainFirstRow = 3;
  s.Links = {{0, 1}, {27, 2}};
  s.CaseSensitive = false;
  s.KeepValues = true;
  s.CopyColumns = {4, 1};
  s.Target = "out";
  s.Format = merge::ResultFormat::Csv;
  for (const auto& [near, rule] :
       {std::pair{std::optional<merge::NearMatch>{}, std::optional<merge::Duplicates>{}},
        std::pair{std::optional{merge::NearMatch::Forms}, std::optional{merge::Duplicates::Last}},
        std::pair{std::optional{merge::NearMatch::Typos},
                  std::optional{merge::Duplicates::Refuse}}}) {
    s.Near = near;
    s.DuplicateRule = rule;
    std::vector<std::string> args = merge::CommandArguments(s);
    ASSERT_EQ(args.front(), "merge");
    args.erase(args.begin());
    const cli::MergeOptions o = ParseMergeArguments(args);
    EXPECT_EQ(cli::Overlay({}, o), s);
  }
}

}  // namespace
