// hexfold-check's report, in text for people and their editors or in one
// of three formats for CI services, built in a fixed buffer and written out
// through WriteAll whenever it fills.
#ifndef HEXFOLD_CHECK_REPORT_HPP
#define HEXFOLD_CHECK_REPORT_HPP

#include "check_rules.hpp"
#include "source_check.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

enum class ReportFormat : std::uint8_t { kText, kSarif, kGithub, kGitlab };

// GitHub code scanning keeps at most 5,000 results of a run and refuses a
// file of more than 25,000; a SARIF report stays within both.
inline constexpr std::uint64_t kSarifFindingsMax = 5000;
inline constexpr std::uint64_t kSarifResultsMax = 25000;

inline constexpr std::uint64_t kDefaultMaxFindings = 10;

struct ReportSettings {
    ReportFormat format = ReportFormat::kText;
    std::uint64_t max_findings = kDefaultMaxFindings; // of each rule in each file; 0: all
    bool werror = false;
    std::array<bool, kRuleCount> disabled{};
    const char *working_directory = ""; // SARIF's paths are relative to it
};

// The room that an item of the report may take: an echo of a whole piece,
// every character escaped, or a path of PATH_MAX percent-encoded.
inline constexpr std::size_t kReportItemMax = std::size_t{16} * 1024;

struct Report {
    ReportSettings settings;
    int fd = -1;
    std::span<char> buffer; // at least twice kReportItemMax
    std::size_t used = 0;
    int error = 0; // of the first write that failed
    // The file being checked, as given, and its findings of each rule,
    // shown and, once it is checked, found.
    const char *path = "";
    std::array<std::uint64_t, kRuleCount> found{};
    std::array<std::uint64_t, kRuleCount> shown{};
    // Over the run.
    std::uint64_t results = 0;        // SARIF results
    std::uint64_t findings_shown = 0; // of them, findings
    bool errors = false;              // an error, or a warning under --werror
    bool items = false;               // a JSON element is written: a comma before the next
};

void BeginReport(Report &report);
void BeginFile(Report &report, const char *path);
// A FindingSink's take, with the Report as its context; FindingSinkOf
// gives the sink whole.
void TakeFinding(void *report, const Finding &finding);
inline FindingSink FindingSinkOf(Report &report)
{
    return {TakeFinding, &report, report.settings.max_findings};
}
void EndFile(Report &report, const SourceVerdict &verdict);
// Closes the report and writes out what is left: false when a write failed.
bool EndReport(Report &report, int exit_status);

#endif
