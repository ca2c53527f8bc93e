#include "cli/resume_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace qarvo::cli {

namespace {

void appendEscaped(std::string_view field, std::string* line) {
  for (char c : field) {
    switch (c) {
      case '%':
        *line += "%25";
        break;
      case '\t':
        *line += "%09";
        break;
      case '\r':
        *line += "%0D";
        break;
      case '\n':
        *line += "%0A";
        break;
      default:
        *line += c;
    }
  }
}

bool unescape(std::string_view field, std::string* out) {
  out->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      *out += field[i];
      continue;
    }
    std::string_view code = field.substr(i + 1, 2);
    if (code == "25")
      *out += '%';
    else if (code == "09")
      *out += '\t';
    else if (code == "0D")
      *out += '\r';
    else if (code == "0A")
      *out += '\n';
    else
      return false;
    i += 2;
  }
  return true;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

ResumeJournal::~ResumeJournal() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::string ResumeJournal::formatLine(std::string_view service, const AddressRecord& record) {
  std::string line;
  appendEscaped(service, &line);
  line += '\t';
  appendEscaped(record.status, &line);
  line += '\t';
  line += std::to_string(record.pages);
  if (record.morePages > 0)
    line += "+" + std::to_string(record.morePages);
  line += '\t';
  appendEscaped(record.address, &line);
  for (const std::string& domain : record.domains) {
    line += '\t';
    appendEscaped(domain, &line);
  }
  line += '\n';
  return line;
}

bool ResumeJournal::parseLine(std::string_view line, std::string* service, AddressRecord* record) {
  if (line.ends_with('\n'))
    line.remove_suffix(1);
  std::vector<std::string_view> fields;
  size_t begin = 0;
  for (;;) {
    size_t tab = line.find('\t', begin);
    fields.push_back(line.substr(begin, tab == std::string_view::npos ? tab : tab - begin));
    if (tab == std::string_view::npos)
      break;
    begin = tab + 1;
  }
  if (fields.size() < 4)
    return false;
  *record = AddressRecord();
  if (!unescape(fields[0], service) || service->empty() || !unescape(fields[1], &record->status))
    return false;
  // Only completed look-ups are journaled.
  if (record->status != "found" && record->status != "none")
    return false;
  // "P" or "P+M".
  const std::string_view pages = fields[2];
  const char* const last = pages.data() + pages.size();
  auto [end, problem] = std::from_chars(pages.data(), last, record->pages);
  if (problem != std::errc() || record->pages < 0)
    return false;
  if (end != last && *end == '+') {
    auto [moreEnd, moreProblem] = std::from_chars(end + 1, last, record->morePages);
    if (moreProblem != std::errc() || record->morePages < 1)
      return false;
    end = moreEnd;
  }
  if (end != last)
    return false;
  if (!unescape(fields[3], &record->address) || record->address.empty())
    return false;
  std::string domain;
  for (size_t i = 4; i < fields.size(); ++i) {
    if (!unescape(fields[i], &domain))
      return false;
    record->domains.push_back(domain);
  }
  return (record->status == "found") == !record->domains.empty();
}

bool ResumeJournal::open(const std::string& folder, std::string* error) {
  const std::string path = folder + "/" + std::string(kFileName);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open the journal " + path + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? "another qarvo-lookup run is writing into " + folder
                                  : "cannot lock the journal " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }

  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      *error = "cannot read the journal " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (got == 0)
      break;
    bytes.append(buffer, static_cast<size_t>(got));
  }

  // Only whole lines count; a cut last line is dropped from the file too, so
  // that the next line does not run on from it.
  const size_t whole = bytes.rfind('\n') == std::string::npos ? 0 : bytes.rfind('\n') + 1;
  if (whole < bytes.size() &&
      (::ftruncate(fd, static_cast<off_t>(whole)) != 0 || ::fsync(fd) != 0)) {
    *error = "cannot repair the journal " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (::lseek(fd, 0, SEEK_END) < 0) {
    *error = "cannot open the journal " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }

  entries_.clear();
  size_t begin = 0;
  std::string service;
  AddressRecord record;
  while (begin < whole) {
    size_t end = bytes.find('\n', begin);
    if (parseLine(std::string_view(bytes).substr(begin, end - begin), &service, &record))
      entries_[{service, record.address}] = record;
    begin = end + 1;
  }
  // A journal just made must outlive a crash as well as its lines do.
  if (bytes.empty()) {
    int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
      ::fsync(folderFd);
      ::close(folderFd);
    }
  }
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = fd;
  return true;
}

const AddressRecord* ResumeJournal::find(std::string_view service, std::string_view address) const {
  auto it = entries_.find({std::string(service), std::string(address)});
  return it == entries_.end() ? nullptr : &it->second;
}

bool ResumeJournal::record(std::string_view service, const AddressRecord& record) {
  if (fd_ < 0)
    return false;
  const off_t before = ::lseek(fd_, 0, SEEK_END);
  if (before < 0)
    return false;
  if (!writeAll(fd_, formatLine(service, record)) || ::fdatasync(fd_) != 0) {
    // Take back a part-written line, so that the next one starts clean.
    if (::ftruncate(fd_, before) == 0)
      ::lseek(fd_, before, SEEK_SET);
    return false;
  }
  return true;
}

}  // namespace qarvo::cli
