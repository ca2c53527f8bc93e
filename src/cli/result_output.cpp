#include "cli/result_output.h"

#include <ctime>

#include "engine/lookup_history.h"
#include "platform/code_page.h"

namespace qarvo::cli {

std::vector<std::string> splitDomains(TextView gbkDomains) {
  std::vector<std::string> domains;
  if (gbkDomains.empty())
    return domains;
  // CR and LF are single bytes in GBK and in UTF-8, so the split can be made
  // after one conversion of the whole text.
  const std::string utf8 = gbkToUtf8(gbkDomains);
  size_t begin = 0;
  for (;;) {
    size_t end = utf8.find("\r\n", begin);
    std::string_view domain = std::string_view(utf8).substr(
        begin, end == std::string::npos ? std::string::npos : end - begin);
    if (!domain.empty())
      domains.emplace_back(domain);
    if (end == std::string::npos)
      break;
    begin = end + 2;
  }
  return domains;
}

std::string servicesNamed(unsigned char mask) {
  switch (mask) {
    case kFromAizhan:
      return "aizhan";
    case kFromChinaz:
      return "chinaz";
    case kFromBoth:
      return "aizhan+chinaz";
    default:
      return "";
  }
}

namespace {

std::string formatUtc(std::chrono::system_clock::time_point time, const char* format) {
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
  std::tm parts{};
  char text[32];
  if (gmtime_r(&seconds, &parts) == nullptr ||
      std::strftime(text, sizeof text, format, &parts) == 0)
    return "";
  return text;
}

// One service's answer: completed look-ups cut short by the page limit say
// how many pages it left unread.
ServiceAnswer answerOf(const LookupResult& result) {
  ServiceAnswer answer;
  answer.service = serviceKey(result.service);
  answer.status = outcomeName(result.outcome);
  answer.pages = result.pages;
  answer.domains = splitDomains(result.domains);
  if (!result.completed())
    answer.reason = reasonName(result.reason);
  else if (result.announcedPages > result.pages)
    answer.morePages = result.announcedPages - result.pages;
  return answer;
}

}  // namespace

std::string utcDate(std::chrono::system_clock::time_point time) {
  return formatUtc(time, "%Y-%m-%d");
}

std::string utcTime(std::chrono::system_clock::time_point time) {
  return formatUtc(time, "%Y-%m-%dT%H:%M:%SZ");
}

AddressRecord makeRecord(std::string address, const LookupResult& result, unsigned char asked) {
  AddressRecord record;
  record.address = std::move(address);
  record.status = outcomeName(result.outcome);
  record.domains = splitDomains(result.domains);
  record.pages = result.pages;
  record.asked = servicesNamed(asked);
  if (result.answers.empty()) {
    LookupResult alone = result;
    alone.service = asked == kFromChinaz ? Service::kChinaz : Service::kAizhan;
    record.services.push_back(answerOf(alone));
    record.morePages = record.services.back().morePages;
  } else {
    for (const LookupResult& answer : result.answers) {
      record.services.push_back(answerOf(answer));
      // Each service's pages left unread, as each was cut short on its own.
      if (result.completed())
        record.morePages += record.services.back().morePages;
    }
    for (unsigned char from : result.sources)
      record.listedBy.push_back(servicesNamed(from));
  }
  // A merged result names the service its reason is from: "chinaz: sign-in needed".
  if (!result.completed())
    record.reason = (result.reasonFrom == kFromAizhan   ? "aizhan: "
                     : result.reasonFrom == kFromChinaz ? "chinaz: "
                                                        : "") +
                    std::string(reasonName(result.reason));
  const HistoryNote& history = result.history;
  if (history.fromHistory)
    record.source = "history";
  if (history.since && history.isNew.size() == record.domains.size())
    record.isNew.assign(history.isNew.begin(), history.isNew.end());
  if (history.firstSeen.size() == record.domains.size()) {
    for (const auto& first : history.firstSeen)
      record.firstSeen.push_back(utcDate(first));
  }
  return record;
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos)
    return std::string(text);
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string jsonString(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  for (char c : utf8) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string csvRows(const AddressRecord& record) {
  const std::string middle = "," + csvField(record.status) + "," + std::to_string(record.pages) +
                             "," + csvField(record.reason) + "," +
                             std::to_string(record.morePages) + "," + csvField(record.source) + ",";
  const std::string address = csvField(record.address);
  if (record.domains.empty())
    return address + "," + middle + ",," + csvField(record.asked) + "\n";
  std::string rows;
  for (size_t i = 0; i < record.domains.size(); ++i) {
    rows += address + "," + csvField(record.domains[i]) + middle;
    if (i < record.isNew.size())
      rows += record.isNew[i] != 0 ? '1' : '0';
    rows += ',';
    if (i < record.firstSeen.size())
      rows += record.firstSeen[i];
    rows += ',';
    rows += csvField(i < record.listedBy.size() ? record.listedBy[i] : record.asked);
    rows += '\n';
  }
  return rows;
}

namespace {

void appendStrings(const std::vector<std::string>& texts, std::string* line) {
  *line += '[';
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0)
      *line += ',';
    *line += jsonString(texts[i]);
  }
  *line += ']';
}

}  // namespace

std::string jsonLine(const AddressRecord& record) {
  std::string line = "{\"address\":" + jsonString(record.address) +
                     ",\"status\":" + jsonString(record.status) + ",\"domains\":";
  appendStrings(record.domains, &line);
  line += ",\"pages\":" + std::to_string(record.pages) +
          ",\"more_pages\":" + std::to_string(record.morePages);
  if (!record.reason.empty())
    line += ",\"reason\":" + jsonString(record.reason);
  line += ",\"source\":" + jsonString(record.source) + ",\"new\":";
  if (record.isNew.empty() && !record.domains.empty()) {
    line += "null";
  } else {
    line += '[';
    for (size_t i = 0; i < record.isNew.size(); ++i)
      line += i > 0 ? (record.isNew[i] != 0 ? ",1" : ",0") : (record.isNew[i] != 0 ? "1" : "0");
    line += ']';
  }
  line += ",\"first_seen\":";
  if (record.firstSeen.empty() && !record.domains.empty())
    line += "null";
  else
    appendStrings(record.firstSeen, &line);
  line += ",\"services\":{";
  for (size_t i = 0; i < record.services.size(); ++i) {
    const ServiceAnswer& answer = record.services[i];
    line += (i > 0 ? "," : "") + jsonString(answer.service) +
            ":{\"status\":" + jsonString(answer.status) +
            ",\"pages\":" + std::to_string(answer.pages) + ",\"domains\":";
    appendStrings(answer.domains, &line);
    if (!answer.reason.empty())
      line += ",\"reason\":" + jsonString(answer.reason);
    line += '}';
  }
  line += "}}\n";
  return line;
}

void ResultOutput::begin() {
  if (format_ == OutputFormat::kCsv)
    put(std::string(kCsvHeader));
}

void ResultOutput::write(const AddressRecord& record) {
  switch (format_) {
    case OutputFormat::kCsv:
      put(csvRows(record));
      break;
    case OutputFormat::kJsonl:
      put(jsonLine(record));
      break;
    case OutputFormat::kNone:
      break;
  }
}

void ResultOutput::put(const std::string& text) {
  if (!good_)
    return;
  if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size() || std::fflush(stream_) != 0)
    good_ = false;
}

}  // namespace qarvo::cli
