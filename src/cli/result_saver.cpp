#include "cli/result_saver.h"

#include <cerrno>
#include <cstring>

#include "engine/lookup_engine.h"
#include "platform/code_page.h"

namespace qarvo::cli {

void ResultSaver::save(const Text& gbkAddress, const Text& gbkDomains,
                       const AddressRecord& record) {
  flush();
  held_ = Job{gbkAddress, gbkDomains, record};
}

void ResultSaver::flush() {
  if (!held_)
    return;
  Job job = std::move(*held_);
  held_.reset();
  // The file first, then the journal line.
  if (!writeResultFile(folder_, job.gbkAddress, job.gbkDomains)) {
    ++unsaved_;
    problems_.push_back("cannot write the result file of " + job.record.address + " into " +
                        gbkToUtf8(folder_));
  } else if (!journal_.record(service_, job.record)) {
    problems_.push_back("cannot add " + job.record.address + " to the journal in " +
                        gbkToUtf8(folder_) + ": " + std::strerror(errno));
  }
}

}  // namespace qarvo::cli
