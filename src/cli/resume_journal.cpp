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

namespace {

void appendPages(int pages, int morePages, std::string* line) {
  *line += std::to_string(pages);
  if (morePages > 0)
    *line += "+" + std::to_string(morePages);
}

// "P" or "P+M", all of it.
bool parsePages(std::string_view field, int* pages, int* morePages) {
  const char* const last = field.data() + field.size();
  auto [end, problem] = std::from_chars(field.data(), last, *pages);
  if (field.empty() || problem != std::errc() || *pages < 0)
    return false;
  *morePages = 0;
  if (end != last && *end == '+') {
    auto [moreEnd, moreProblem] = std::from_chars(end + 1, last, *morePages);
    if (moreProblem != std::errc() || *morePages < 1)
      return false;
    end = moreEnd;
  }
  return end == last;
}

unsigned char maskOf(std::string_view listedBy) {
  return listedBy == "aizhan" ? 1 : listedBy == "chinaz" ? 2 : listedBy == "aizhan+chinaz" ? 3 : 0;
}

}  // namespace

std::string ResumeJournal::formatLine(std::string_view service, const AddressRecord& record) {
  const bool both = record.services.size() == 2;
  std::string line;
  appendEscaped(service, &line);
  line += '\t';
  appendEscaped(record.status, &line);
  line += '\t';
  if (both) {
    appendPages(record.services[0].pages, record.services[0].morePages, &line);
    line += ',';
    appendPages(record.services[1].pages, record.services[1].morePages, &line);
  } else {
    appendPages(record.pages, record.morePages, &line);
  }
  line += '\t';
  appendEscaped(record.address, &line);
  for (size_t i = 0; i < record.domains.size(); ++i) {
    line += '\t';
    if (both)
      line += std::to_string(i < record.listedBy.size() ? maskOf(record.listedBy[i]) : 3) + ":";
    appendEscaped(record.domains[i], &line);
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
  // "P" or "P+M"; both services: "P,P" with each one's "+M".
  const std::string_view pages = fields[2];
  const size_t comma = pages.find(',');
  const bool both = comma != std::string_view::npos;
  if (both) {
    record->services.resize(2);
    record->services[0].service = "aizhan";
    record->services[1].service = "chinaz";
    for (int n = 0; n < 2; ++n) {
      ServiceAnswer& answer = record->services[static_cast<size_t>(n)];
      if (!parsePages(n == 0 ? pages.substr(0, comma) : pages.substr(comma + 1), &answer.pages,
                      &answer.morePages))
        return false;
      record->pages += answer.pages;
      record->morePages += answer.morePages;
    }
  } else if (!parsePages(pages, &record->pages, &record->morePages)) {
    return false;
  }
  if (!unescape(fields[3], &record->address) || record->address.empty())
    return false;
  std::string domain;
  for (size_t i = 4; i < fields.size(); ++i) {
    std::string_view field = fields[i];
    unsigned char mask = 0;
    if (both) {
      if (field.size() < 2 || field[1] != ':' || field[0] < '1' || field[0] > '3')
        return false;
      mask = static_cast<unsigned char>(field[0] - '0');
      field.remove_prefix(2);
    }
    if (!unescape(field, &domain))
      return false;
    record->domains.push_back(domain);
    if (both) {
      record->listedBy.push_back(servicesNamed(mask));
      for (int n = 0; n < 2; ++n) {
        if ((mask & (1 << n)) != 0)
          record->services[static_cast<size_t>(n)].domains.push_back(domain);
      }
    }
  }
  for (ServiceAnswer& answer : record->services)
    answer.status = answer.domains.empty() ? "none" : "found";
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
