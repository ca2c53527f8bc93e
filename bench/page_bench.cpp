// Reading result pages: the decoding and domain extraction the page walk does
// for every fetched page, and, for a large page, a real HTML parser (gumbo)
// reading the same bytes as the yardstick.

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_pages.h"
#include "engine/page_extraction.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

constexpr std::size_t kSmallPage = 100 * 1024;
constexpr std::size_t kLargePage = 1024 * 1024;

struct Page {
  Bytes body;
  int domains = 0;
};

const Page& page(std::size_t bytes) {
  static std::vector<std::pair<std::size_t, Page>> made;
  for (const auto& entry : made) {
    if (entry.first == bytes)
      return entry.second;
  }
  Page p;
  const std::string html = bench::aizhanPageUtf8(bytes, &p.domains);
  p.body.assign(html.begin(), html.end());
  made.emplace_back(bytes, std::move(p));
  return made.back().second;
}

void BM_DecodeAndExtractPage(benchmark::State& state) {
  const Page& p = page(static_cast<std::size_t>(state.range(0)));
  PageExtractor extractor;
  const int found = bench::countLines(bench::decodeAndExtract(p.body, extractor));
  if (found != p.domains) {
    state.SkipWithError(
        ("found " + std::to_string(found) + " domains of " + std::to_string(p.domains)).c_str());
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(bench::decodeAndExtract(p.body, extractor));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(p.body.size()));
  state.counters["domains"] = found;
}
BENCHMARK(BM_DecodeAndExtractPage)->Arg(kSmallPage)->Arg(kLargePage)->Unit(benchmark::kMillisecond);

// --- the yardstick: gumbo ------------------------------------------------

void appendText(const GumboNode* node, std::string* out) {
  if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE) {
    out->append(node->v.text.text);
  } else if (node->type == GUMBO_NODE_ELEMENT) {
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
      appendText(static_cast<const GumboNode*>(children.data[i]), out);
  }
}

const GumboNode* findResultBlock(const GumboNode* node) {
  if (node->type != GUMBO_NODE_ELEMENT)
    return nullptr;
  if (node->v.element.tag == GUMBO_TAG_DIV) {
    const GumboAttribute* cls = gumbo_get_attribute(&node->v.element.attributes, "class");
    if (cls != nullptr && std::strcmp(cls->value, "reverse-content") == 0)
      return node;
  }
  const GumboVector& children = node->v.element.children;
  for (unsigned i = 0; i < children.length; ++i) {
    if (const GumboNode* found = findResultBlock(static_cast<const GumboNode*>(children.data[i])))
      return found;
  }
  return nullptr;
}

void collectRows(const GumboNode* node, std::vector<const GumboNode*>* rows) {
  if (node->type != GUMBO_NODE_ELEMENT)
    return;
  if (node->v.element.tag == GUMBO_TAG_TR)
    rows->push_back(node);
  const GumboVector& children = node->v.element.children;
  for (unsigned i = 0; i < children.length; ++i)
    collectRows(static_cast<const GumboNode*>(children.data[i]), rows);
}

// Blanks and full-width spaces off both ends.
std::string trimmed(const std::string& text) {
  static const std::string kFullWidth = "\xE3\x80\x80";
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    if (isBlank(text[begin]))
      ++begin;
    else if (end - begin >= 3 && text.compare(begin, 3, kFullWidth) == 0)
      begin += 3;
    else
      break;
  }
  while (begin < end) {
    if (isBlank(text[end - 1]))
      --end;
    else if (end - begin >= 3 && text.compare(end - 3, 3, kFullWidth) == 0)
      end -= 3;
    else
      break;
  }
  return text.substr(begin, end - begin);
}

// The domains of the page as read from gumbo's tree: the second cell of every
// row of the result block, its text trimmed; empty cells and the heading left
// out. UTF-8.
std::vector<std::string> gumboDomains(const GumboOutput* output) {
  std::vector<std::string> domains;
  const GumboNode* block = findResultBlock(output->root);
  if (block == nullptr)
    return domains;
  std::vector<const GumboNode*> rows;
  collectRows(block, &rows);
  for (const GumboNode* row : rows) {
    int cells = 0;
    const GumboVector& children = row->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
      const auto* cell = static_cast<const GumboNode*>(children.data[i]);
      if (cell->type != GUMBO_NODE_ELEMENT || cell->v.element.tag != GUMBO_TAG_TD)
        continue;
      if (++cells != 2)
        continue;
      std::string text;
      appendText(cell, &text);
      text = trimmed(text);
      if (!text.empty() && text != "域名")
        domains.push_back(text);
      break;
    }
  }
  return domains;
}

void BM_GumboParse(benchmark::State& state) {
  const Page& p = page(static_cast<std::size_t>(state.range(0)));
  const char* html = reinterpret_cast<const char*>(p.body.data());
  // Both readings must list the same domains, in the same order.
  {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html, p.body.size());
    const std::vector<std::string> theirs = gumboDomains(output);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    PageExtractor extractor;
    const Text ours = bench::decodeAndExtract(p.body, extractor);
    std::string joined;
    for (const std::string& domain : theirs) {
      if (!joined.empty())
        joined += "\r\n";
      joined += domain;
    }
    if (static_cast<int>(theirs.size()) != p.domains || joined != gbkToUtf8(ours)) {
      state.SkipWithError(("gumbo found " + std::to_string(theirs.size()) + " domains, the " +
                           "extractor " + std::to_string(bench::countLines(ours)) +
                           " (or other ones)")
                              .c_str());
      return;
    }
    state.counters["domains"] = static_cast<double>(theirs.size());
  }
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html, p.body.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(p.body.size()));
}
BENCHMARK(BM_GumboParse)->Arg(kLargePage)->Unit(benchmark::kMillisecond);

const bool kPageFigures =
    bench::addFigure({.title = "decode + extract every domain, 100 KB aizhan page",
                      .benchmark = "BM_DecodeAndExtractPage/102400",
                      .maxMilliseconds = 1}) &&
    bench::addFigure({.title = "decode + extract every domain, 1 MB page (vs gumbo parse)",
                      .benchmark = "BM_DecodeAndExtractPage/1048576",
                      .reference = "BM_GumboParse/1048576",
                      .minSpeedup = 5});

}  // namespace
}  // namespace qarvo
