// ResultSaver: writes the result files and journal lines of a run.
//
// Every completed address gets its result file (through the engine's
// writeResultFile, exactly as the window's auto-save) and then its journal
// line, both flushed to disk. Flushing costs milliseconds to tens of
// milliseconds on a busy disk, and the run has a better moment for it than
// right after the look-up: the next address's first page is followed by the
// page walk's mandated pause, so the saving of one address is held back
// until then (or until the next result comes, or the run ends) and the pause
// absorbs it. At most one result waits; finish() writes it. A crash in
// between only means that address is asked again on --resume: its journal
// line is written after its file, never before.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/result_output.h"
#include "cli/resume_journal.h"
#include "platform/text.h"

namespace qarvo::cli {

class ResultSaver {
 public:
  // `folder` is the result folder as GBK text; `journal` (open) gets a line
  // per saved result for `service`.
  ResultSaver(Text folder, ResumeJournal& journal, std::string service)
      : folder_(std::move(folder)), journal_(journal), service_(std::move(service)) {}

  // Takes the result of a completed look-up; writes the one held before.
  void save(const Text& gbkAddress, const Text& gbkDomains, const AddressRecord& record);
  // Writes the result held back, if any (in a pause, and at the end).
  void flush();

  // Problems met since the last call (English, one line each).
  std::vector<std::string> takeProblems() { return std::exchange(problems_, {}); }
  // Results whose file could not be written, so far.
  int unsaved() const { return unsaved_; }

 private:
  struct Job {
    Text gbkAddress;
    Text gbkDomains;
    AddressRecord record;
  };

  const Text folder_;
  ResumeJournal& journal_;
  const std::string service_;
  std::optional<Job> held_;
  std::vector<std::string> problems_;
  int unsaved_ = 0;
};

}  // namespace qarvo::cli
