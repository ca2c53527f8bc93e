#include "cli/result_output.h"

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

AddressRecord makeRecord(std::string address, const LookupResult& result) {
  AddressRecord record;
  record.address = std::move(address);
  record.status = outcomeName(result.outcome);
  record.domains = splitDomains(result.domains);
  record.pages = result.pages;
  if (!result.completed())
    record.reason = reasonName(result.reason);
  else if (result.announcedPages > result.pages)
    record.morePages = result.announcedPages - result.pages;
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
  const std::string tail = "," + csvField(record.status) + "," + std::to_string(record.pages) +
                           "," + csvField(record.reason) + "," + std::to_string(record.morePages) +
                           "\n";
  const std::string address = csvField(record.address);
  if (record.domains.empty())
    return address + "," + tail;
  std::string rows;
  for (const std::string& domain : record.domains)
    rows += address + "," + csvField(domain) + tail;
  return rows;
}

std::string jsonLine(const AddressRecord& record) {
  std::string line = "{\"address\":" + jsonString(record.address) +
                     ",\"status\":" + jsonString(record.status) + ",\"domains\":[";
  for (size_t i = 0; i < record.domains.size(); ++i) {
    if (i > 0)
      line += ',';
    line += jsonString(record.domains[i]);
  }
  line += "],\"pages\":" + std::to_string(record.pages) +
          ",\"more_pages\":" + std::to_string(record.morePages);
  if (!record.reason.empty())
    line += ",\"reason\":" + jsonString(record.reason);
  line += "}\n";
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
