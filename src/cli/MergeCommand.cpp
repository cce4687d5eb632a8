#include "cli/MergeCommand.hpp"

#include <cctype>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stop_token>

#include "cli/Interruption.hpp"
#include "merge/MergeRun.hpp"
#include "store/UClc.hpp"

namespace cli {

namespace fs = std::filesystem;

const char* const kMergeUsage =
    "usage: tabloom merge MAIN ADD -o TARGET --link MAINCOL=ADDCOL [--link MAINCOL=ADDCOL ...]\n"
    "              [--main-sheet SHEET] [--add-sheet SHEET]\n"
    "              [--main-title-row N] [--add-title-row N] [--first-row N]\n"
    "              [--ignore-case] [--keep-values] [--copy COLS] [--format ods|xlsx|csv]\n"
    "              [--unmatched FILE] [--unused FILE] [--matches FILE]\n"
    "              [--near[=typos]] [--duplicates first|last|refuse]\n"
    "              [--office-timeout SECONDS] [--verbose] [--]\n"
    "       tabloom merge --setup FILE [MAIN ADD] [-o TARGET] [any option above]\n"
    "\n"
    "Copies to every row of the main table the add row whose link cells agree, and writes the\n"
    "main sheet alone to TARGET (.ods). SHEET is a sheet name or its number (1 = first);\n"
    "N is a row number as the office shows it (1 = first row); columns are letters (A, B, AA).\n"
    "--first-row defaults to the row after --main-title-row, else 1. Matching is case-sensitive\n"
    "unless --ignore-case is given. An existing TARGET is replaced, only once the merge has\n"
    "succeeded: a failed or interrupted run (Ctrl-C, SIGTERM, SIGHUP) leaves no new file and\n"
    "TARGET as it was. --office-timeout ends the office and fails the run when one office call\n"
    "gets no answer within SECONDS (default 600). --verbose names each step on stderr.\n"
    "-- ends the options: a file name after it may begin with '-'.\n"
    "\n"
    "--setup FILE runs a setup saved by the windows (.tabloom): its files (as chosen, else found\n"
    "beside FILE by their relative paths), sheets, rows, links and choices; what the command line\n"
    "gives takes their place (both files, a sheet, a row, all links, -o, a choice for the "
    "result).\n"
    "\n"
    "Text files (.csv, .tsv, .txt) are read as UTF-8 (a byte order mark is skipped), with the\n"
    "separator (comma, semicolon or tab) found in their first lines and \" as the quote.\n"
    "Copies go up to the office's last column (XFD); numbers are copied as texts in the user's\n"
    "locale.\n"
    "\n"
    "Choices for the result:\n"
    "  --keep-values   numbers, dates, times, percentages, currencies, booleans and formula\n"
    "                  results copied as values with their number formats: they show what\n"
    "                  the add table shows and compute like it\n"
    "  --copy COLS     only these add columns, in this order (B,D:F); the title row likewise\n"
    "  --format F      ods (the default: \".ods\" appended to a name without it), xlsx (Excel\n"
    "                  2007-365, \".xlsx\" appended) or csv (the shown texts, UTF-8, comma,\n"
    "                  \" where needed, \".csv\" appended)\n"
    "  --unmatched FILE  every main row that found no add row, with its key and the nearest add\n"
    "                  key with what separates them (letter case, Unicode form, spaces,\n"
    "                  punctuation, leading zeros, one or two edits), as a csv\n"
    "  --unused FILE   every add row no main row took, with its key, as a csv\n"
    "  --matches FILE  every main row with its outcome (exact, near, none), its add row and why,\n"
    "                  as a csv\n"
    "\n"
    "How keys match:\n"
    "  --near          a main row whose key no add key equals takes the add row of its nearest\n"
    "                  key, where that differs only in letter case, Unicode form, spaces,\n"
    "                  punctuation or leading zeros and no other is as near; each is named\n"
    "  --near=typos    the same, and keys one or two edits apart (5 and 9 characters or more)\n"
    "  --duplicates R  a key of several add rows gives its first or last add row in the table\n"
    "                  (first, last), or the run is refused (refuse); without it, the row the\n"
    "                  search meets first\n"
    "\n"
    "On success the last two lines on stdout are\n"
    "  Result: PATH                          the file written\n"
    "  Done: M of R main rows matched        (N near) added when near keys matched\n"
    "Errors and warnings go to stderr, a warning as one line \"Warning: ...\": add columns left\n"
    "out at the sheet's last column, a link column empty in its whole sheet, add keys that\n"
    "occur more than once, main rows that found no add row. Exit status: 0 merged, 1 the merge\n"
    "failed (nothing written), 2 usage, 3 a file or sheet cannot be opened, 4 no office (its\n"
    "cause on the next line).\n";

namespace {

// A sheet's last column in any office this program knows (XFD).
constexpr std::int32_t kLastColumn = 16383;

}  // namespace

std::vector<std::int32_t> ParseColumnList(const std::string& list) {
  std::vector<std::int32_t> columns;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    std::string item = list.substr(start, end - start);
    std::erase(item, ' ');
    const std::size_t colon = item.find(':');
    const std::int32_t first = store::clc::ColumnIndex(item.substr(0, colon));
    const std::int32_t last =
        colon == std::string::npos ? first : store::clc::ColumnIndex(item.substr(colon + 1));
    if (first < 0 || last < first)
      throw UsageError("--copy needs add columns as letters, such as B,D:F, not \"" + list + "\".");
    // Before anything is made of the range: no sheet has a column past XFD.
    if (last > kLastColumn)
      throw UsageError("--copy names columns past a sheet's last column " +
                       store::clc::ColumnName(kLastColumn) + ": \"" + item + "\".");
    for (std::int32_t c = first; c <= last; ++c) columns.push_back(c);
    if (end == list.size()) return columns;
    start = end + 1;
  }
}

namespace {

// A whole number written alone, else nothing.
std::optional<long> WholeNumber(const std::string& text) {
  try {
    std::size_t used = 0;
    const long n = std::stol(text, &used);
    if (used == text.size()) return n;
  } catch (const std::logic_error&) {
    // not a number, or out of range
  }
  return std::nullopt;
}

std::int32_t RowNumber(const std::string& option, const std::string& value) {
  const std::optional<long> n = WholeNumber(value);
  if (!n || *n < 1 || *n > 1048576)
    throw UsageError(option + " needs a row number of 1 or more, not \"" + value + "\".");
  return static_cast<std::int32_t>(*n - 1);
}

std::pair<std::int32_t, std::int32_t> Link(const std::string& link) {
  const std::size_t eq = link.find('=');
  const std::int32_t mainCol =
      eq == std::string::npos ? -1 : store::clc::ColumnIndex(link.substr(0, eq));
  const std::int32_t addCol =
      eq == std::string::npos ? -1 : store::clc::ColumnIndex(link.substr(eq + 1));
  if (mainCol < 0 || addCol < 0)
    throw UsageError("--link needs two column letters as MAINCOL=ADDCOL, not \"" + link + "\".");
  return {mainCol, addCol};
}

merge::ResultFormat Format(const std::string& format) {
  if (const std::optional<merge::ResultFormat> named = merge::FormatNamed(format)) return *named;
  throw UsageError("--format needs ods, xlsx or csv, not \"" + format + "\".");
}

// The two files, and what a run without a setup must be given.
void TakeFiles(MergeOptions& o, const std::vector<std::string>& files) {
  if (files.size() != 2 && !(files.empty() && !o.setupFile.empty()))
    throw UsageError(o.setupFile.empty()
                         ? "Give exactly two files: the main table and the add table."
                         : "Give both files or neither: the setup names them.");
  if (files.size() == 2) {
    o.mainFile = files[0];
    o.addFile = files[1];
  }
  if (!o.setupFile.empty()) return;  // the rest may come from the setup
  if (o.target.empty()) throw UsageError("Give the result file with -o TARGET.");
  if (o.links.empty()) throw UsageError("Give at least one --link MAINCOL=ADDCOL.");
  if (!o.firstRowGiven) o.firstRow = o.mainTitleRow >= 0 ? o.mainTitleRow + 1 : 0;
}

}  // namespace

MergeOptions ParseMergeArguments(const std::vector<std::string>& args) {
  MergeOptions o;
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded) {
      files.push_back(a);
      continue;
    }
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value.");
      return args[++i];
    };
    if (a == "--") {
      optionsEnded = true;
    } else if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "-o" || a == "--output") {
      o.target = value();
    } else if (a == "--link") {
      o.links.push_back(Link(value()));
    } else if (a == "--main-sheet") {
      o.mainSheet = value();
    } else if (a == "--add-sheet") {
      o.addSheet = value();
    } else if (a == "--main-title-row") {
      o.mainTitleRow = RowNumber(a, value());
    } else if (a == "--add-title-row") {
      o.addTitleRow = RowNumber(a, value());
    } else if (a == "--first-row") {
      o.firstRow = RowNumber(a, value());
      o.firstRowGiven = true;
    } else if (a == "--ignore-case") {
      o.ignoreCase = true;
    } else if (a == "--office-timeout") {
      const std::string& seconds = value();
      const std::optional<long> n = WholeNumber(seconds);
      if (!n || *n < 1 || *n > 86400)
        throw UsageError("--office-timeout needs a number of seconds from 1 to 86400, not \"" +
                         seconds + "\".");
      o.officeTimeout = static_cast<std::int32_t>(*n);
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--exact-calls") {
      o.exactCalls = true;
    } else if (a == "--keep-values") {
      o.keepValues = true;
    } else if (a == "--copy") {
      o.copyColumns = ParseColumnList(value());
    } else if (a == "--format") {
      o.format = Format(value());
    } else if (a == "--unmatched") {
      o.unmatchedFile = value();
    } else if (a == "--unused") {
      o.unusedFile = value();
    } else if (a == "--matches") {
      o.matchesFile = value();
    } else if (a == "--near") {
      o.near = merge::NearMatch::Forms;
    } else if (a.rfind("--near=", 0) == 0) {
      o.near = merge::NearNamed(a.substr(7));
      if (o.near != merge::NearMatch::Typos)
        throw UsageError("--near takes typos or nothing, not \"" + a.substr(7) + "\".");
    } else if (a == "--duplicates") {
      const std::string& rule = value();
      o.duplicates = merge::DuplicatesNamed(rule);
      if (!o.duplicates)
        throw UsageError("--duplicates needs first, last or refuse, not \"" + rule + "\".");
    } else if (a == "--setup") {
      o.setupFile = value();
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("Unknown option " + a + ".");
    } else {
      files.push_back(a);
    }
  }
  if (!o.help) TakeFiles(o, files);
  return o;
}

merge::SavedSetup Overlay(merge::SavedSetup s, const MergeOptions& o) {
  if (!o.mainFile.empty()) s.Main = {o.mainFile, {}, s.Main.Sheet, s.Main.TitleRow};
  if (!o.addFile.empty()) s.Add = {o.addFile, {}, s.Add.Sheet, s.Add.TitleRow};
  if (!o.mainSheet.empty()) s.Main.Sheet = o.mainSheet;
  if (!o.addSheet.empty()) s.Add.Sheet = o.addSheet;
  if (o.mainTitleRow >= 0) s.Main.TitleRow = o.mainTitleRow;
  if (o.addTitleRow >= 0) s.Add.TitleRow = o.addTitleRow;
  if (o.firstRowGiven)
    s.MainFirstRow = o.firstRow;
  else if (o.mainTitleRow >= 0 || s.MainFirstRow < 0)
    s.MainFirstRow = s.Main.TitleRow >= 0 ? s.Main.TitleRow + 1 : 0;
  if (!o.links.empty()) s.Links = o.links;
  if (o.ignoreCase) s.CaseSensitive = false;
  if (o.keepValues) s.KeepValues = true;
  if (!o.copyColumns.empty()) s.CopyColumns = o.copyColumns;
  if (o.format) s.Format = o.format;
  if (!o.target.empty()) s.Target = o.target;
  if (o.near) s.Near = o.near;
  if (o.duplicates) s.DuplicateRule = o.duplicates;
  return s;
}

namespace {

// A sheet by name, else by number (1 = first); the first sheet when none is given.
std::int32_t FindSheet(const store::clc_file& book, const std::string& wanted) {
  if (wanted.empty()) return book.SheetList.empty() ? -1 : 0;
  return merge::FindSheet(book.SheetList, wanted);
}

class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressBar() {
    if (enabled_ && drawn_) err_ << "\n";
  }
  void Show(std::int32_t position, std::int32_t maximum) {
    if (!enabled_ || maximum <= 0) return;
    const int percent = static_cast<int>(100LL * position / maximum);
    if (percent == last_) return;
    last_ = percent;
    drawn_ = true;
    const int filled = percent * 40 / 100;
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(40 - filled), ' ') << "] " << percent << "%"
         << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  bool drawn_ = false;
  int last_ = -1;
};

// One batch merge: its signals, its office, its tables, its run and its report.
class BatchMerge {
 public:
  BatchMerge(const MergeOptions& options, const merge::SavedSetup* setup,
             automation::ObjectFactory& factory, std::ostream& out, std::ostream& err,
             const RunHooks& hooks)
      : options_(options),
        setup_(setup),
        out_(out),
        err_(err),
        interruption_(factory),
        books_(Limited(factory, options)),
        run_(books_, hooks.files ? *hooks.files : merge::DiskFiles()),
        hook_(interruption_.OnSignal([this] { stop_.request_stop(); })) {
    if (options.verbose)
      run_.AddPhaseListener([&err](merge::Phase phase) {
        err << "Step: " << merge::PhaseText(phase) << "\n" << std::flush;
      });
    if (hooks.onPhase) run_.AddPhaseListener(hooks.onPhase);
  }

  int Execute(bool progressBar) {
    merge::Parameters p = Resolved();
    if (const std::optional<int> status = Prepare(p)) return *status;
    merge::RunReport report;
    {
      ProgressBar bar(err_, progressBar && !options_.verbose);
      run_.SetProgress(
          [&](std::int32_t position, std::int32_t maximum) { bar.Show(position, maximum); });
      report = run_.Run(p, stop_.get_token());
      interruption_.ReachedSafePoint();
    }
    // A signal after the run's last safe point came too late to matter: the result is whole.
    if (!report.Ok && interruption_.Signal()) return Interrupted();
    return Report(report);
  }

 private:
  // The factory, its calls limited before the office starts.
  static automation::ObjectFactory& Limited(automation::ObjectFactory& factory,
                                            const MergeOptions& options) {
    if (options.officeTimeout) factory.SetCallTimeout(std::chrono::seconds(*options.officeTimeout));
    return factory;
  }

  // A signal that came ends the command here, with nothing written.
  bool Signalled() {
    if (!interruption_.Signal()) return false;
    interruption_.ReachedSafePoint();
    return true;
  }
  int Interrupted() {
    err_ << interruption_.Message() << "\n";
    return 128 + interruption_.Signal();
  }

  // Every choice that needs no table, resolved before anything is checked or opened: the
  // files as the run opens them, the setup, the result as it is written, the list.
  merge::Parameters Resolved() const {
    merge::Parameters p;
    p.MainFile = options_.mainFile;
    p.AddFile = options_.addFile;
    p.SetupFile = options_.setupFile;
    p.Target = options_.target;
    p.Format = options_.format.value_or(merge::ResultFormat::Ods);
    p.UnmatchedFile = options_.unmatchedFile;
    p.UnusedFile = options_.unusedFile;
    p.MatchesFile = options_.matchesFile;
    p.Near = options_.near.value_or(merge::NearMatch::Off);
    p.DuplicateRule = options_.duplicates.value_or(merge::Duplicates::AsFound);
    p.KeepValues = options_.keepValues;
    p.CopyColumns = options_.copyColumns;
    p.CaseSensitive = !options_.ignoreCase;
    p.ExactCalls = options_.exactCalls;
    p.ReloadMain = false;  // nothing follows the one run
    return p;
  }

  // The checks and the tables; an exit status when the run cannot begin.
  std::optional<int> Prepare(merge::Parameters& p) {
    if (Signalled()) return Interrupted();
    if (const std::optional<merge::Clash> clash = p.OutputClash()) {
      err_ << merge::ClashSentence(*clash) << ".\n";
      return kUsage;
    }
    if (!books_.Connected) {
      err_ << "To use Tabloom you must have LibreOffice installed on your PC.\n";
      if (!books_.Office->ConnectError.empty()) err_ << books_.Office->ConnectError << "\n";
      return kNoOffice;
    }
    if (const std::optional<int> status = setup_ ? RestoreSetup(p) : TakeOptions(p)) return status;
    if (options_.verbose)
      err_ << "Main table: " << fs::absolute(p.MainFile).string()
           << "\nAdd table: " << fs::absolute(p.AddFile).string() << "\n";
    const std::optional<merge::Unfit> unfit = p.Check(books_);
    if (unfit) {
      err_ << unfit->sentence << ".\n";
      return unfit->kind == merge::Unfit::Kind::BeyondSheet ? kUsage : kCannotOpen;
    }
    return std::nullopt;
  }

  std::optional<int> TakeOptions(merge::Parameters& p) {
    p.MainBook = books_.OpenBook(options_.mainFile);
    if (Signalled()) return Interrupted();
    if (p.MainBook < 0) return CannotOpen("main", options_.mainFile);
    p.AddBook = books_.OpenBook(options_.addFile);
    if (Signalled()) return Interrupted();
    if (p.AddBook < 0) return CannotOpen("add", options_.addFile);
    const std::int32_t mainSheet =
        FindSheet(books_.Books[static_cast<std::size_t>(p.MainBook)], options_.mainSheet);
    const std::int32_t addSheet =
        FindSheet(books_.Books[static_cast<std::size_t>(p.AddBook)], options_.addSheet);
    if (mainSheet < 0 || addSheet < 0) {
      err_ << merge::NoSuchSheetSentence(mainSheet < 0 ? "main" : "add",
                                         mainSheet < 0 ? options_.mainSheet : options_.addSheet)
           << ".\n";
      return kCannotOpen;
    }
    // Both books are open and both sheets found: the set-up cannot fail here.
    merge::SetUp(books_,
                 {.MainFile = options_.mainFile,
                  .AddFile = options_.addFile,
                  .MainSheet = mainSheet,
                  .AddSheet = addSheet,
                  .MainTitleRow = options_.mainTitleRow,
                  .AddTitleRow = options_.addTitleRow,
                  .MainFirstRow = options_.firstRow,
                  .Links = options_.links,
                  .CaseSensitive = !options_.ignoreCase},
                 p);
    return std::nullopt;
  }

  // A saved setup fits its files whole, or the run does not begin: what does not fit is
  // named as the windows name it.
  std::optional<int> RestoreSetup(merge::Parameters& p) {
    const std::vector<merge::SetupNote> notes =
        merge::Restore(books_, *setup_, fs::absolute(options_.setupFile).parent_path(), p);
    if (Signalled()) return Interrupted();
    bool cannotOpen = false, unfit = false;
    for (const merge::SetupNote& note : notes) {
      if (note.kind == merge::SetupNote::Kind::Used) {
        err_ << "Warning: " << note.sentence << ".\n";
        continue;
      }
      err_ << note.sentence << ".\n";
      unfit = true;
      cannotOpen = cannotOpen || note.kind == merge::SetupNote::Kind::CannotOpen;
    }
    if (!unfit) return std::nullopt;
    return cannotOpen ? kCannotOpen : kUsage;
  }

  int CannotOpen(const char* which, const std::string& file) {
    err_ << merge::CannotOpenSentence(which, file, books_) << ".\n";
    return kCannotOpen;
  }

  int Report(const merge::RunReport& report) {
    if (!report.Ok) {
      err_ << "The merge failed: " << report.Error << "\n";
      return kMergeFailed;
    }
    for (const std::string& warning : report.Warnings) err_ << "Warning: " << warning << ".\n";
    if (const std::string hint = FormatHint(); !hint.empty()) err_ << "Warning: " << hint << ".\n";
    out_ << "Result: " << report.ResultPath << "\n";
    out_ << "Done: " << report.RowsMatched << " of " << report.RowsWalked << " main rows matched";
    if (report.RowsNear > 0) out_ << " (" << report.RowsNear << " near)";
    out_ << "\n";
    return kMerged;
  }

  // A target named like another format, without --format: the result is .ods as described,
  // and the format that was likely meant is named.
  std::string FormatHint() const {
    if (options_.format) return {};
    std::string extension = fs::path(options_.target).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".xlsx" && extension != ".csv") return {};
    const std::string format = extension.substr(1);
    return "The result is an .ods file, as without --format; give --format " + format +
           (format == "xlsx" ? " for an xlsx file" : " for a csv file");
  }

  const MergeOptions& options_;
  const merge::SavedSetup* setup_;  // --setup's, with the options in place; else null
  std::ostream& out_;
  std::ostream& err_;
  Interruption interruption_;
  store::clc books_;
  merge::MergeRun run_;
  std::stop_source stop_;
  Interruption::Hook hook_;
};

}  // namespace

int RunMerge(const MergeOptions& options, automation::ObjectFactory& factory, std::ostream& out,
             std::ostream& err, bool progressBar, const RunHooks& hooks) {
  if (options.setupFile.empty())
    return BatchMerge(options, nullptr, factory, out, err, hooks).Execute(progressBar);
  merge::SavedSetup setup;
  try {
    setup = Overlay(merge::ReadSetup(options.setupFile), options);
  } catch (const merge::SetupError& e) {
    err << e.what() << "\n";
    return kCannotOpen;
  }
  const char* missing = setup.Target.empty()  ? "the result file with -o TARGET"
                        : setup.Links.empty() ? "at least one --link MAINCOL=ADDCOL"
                                              : nullptr;
  if (missing) {
    err << "Give " << missing << ": the setup names none.\n";
    return kUsage;
  }
  // What the run and its report read from the options, as the setup says it.
  const fs::path folder = fs::absolute(options.setupFile).parent_path();
  MergeOptions taken = options;
  taken.mainFile = merge::Locate(setup.Main, folder).file;
  taken.addFile = merge::Locate(setup.Add, folder).file;
  taken.target = setup.Target;
  taken.links = setup.Links;
  taken.format = setup.Format;
  taken.keepValues = setup.KeepValues;
  taken.copyColumns = setup.CopyColumns;
  taken.ignoreCase = !setup.CaseSensitive;
  taken.near = setup.Near;
  taken.duplicates = setup.DuplicateRule;
  return BatchMerge(taken, &setup, factory, out, err, hooks).Execute(progressBar);
}

}  // namespace cli
