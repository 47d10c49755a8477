// The harvester's whole use of the matcher over a generated 2 MB blog page:
// construct, Search with the page pattern, MatchCount, groups 2, 4 and 6 of
// every match, destroy. Then the same with node's RegExp in the same run,
// when node is there, and the ratio of the two.
//
//   regex_bench [rounds]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/service_hosts.h"
#include "engine/video_post_pattern.h"
#include "pagetext/codepage936.h"
#include "pagetext/regex_matcher.h"

namespace {

constexpr std::size_t kPageSize = 2 * 1024 * 1024;

// A listing page as the service serves it: video posts (some without their
// media part), photo posts and text posts, with captions in Chinese.
std::string GeneratePage() {
  const std::string blog = "cats";
  const std::string domain = service_hosts::kBlogDomain;
  const std::string media = service_hosts::kMediaHost;
  const std::vector<std::string> words = {"cat", "video", "funny", "sleepy", "kitten", "猫咪", "日常", "post"};
  std::mt19937 random(20240601);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto token = [&](std::size_t length) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) out += kChars[pick(sizeof kChars - 1)];
    return out;
  };

  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>猫的博客</title>\n"
      "<link rel=\"stylesheet\" href=\"http://assets." + domain + "/theme.css\"></head>\n<body>\n"
      "<header><h1>猫的博客</h1><p>每天的猫。</p></header>\n<section id=\"posts\">\n";
  long id = 700000000000;
  while (page.size() < kPageSize) {
    id += 1 + static_cast<long>(pick(5000));
    const std::string postId = std::to_string(id);
    const std::size_t roll = pick(10);
    const std::string kind = roll < 4 ? "video" : roll < 7 ? "photo" : "text";
    const bool withMedia = kind == "video" && roll != 3;
    const std::string mediaId = token(17);
    std::string slug;
    if (pick(4) != 0) {
      slug = "/";
      for (std::size_t w = 0, n = 1 + pick(4); w < n; ++w) slug += (w ? "-" : "") + words[pick(words.size())];
    }

    page += "<article class=\"post " + kind + "-post post-" + postId + " tagged\">\n";
    page += "  <div class=\"post-content\">\n";
    if (kind == "video") {
      page += "    <div class=\"video-player\"><video poster=\"http://" + media + "/tumblr_" + mediaId +
              "_frame1.jpg\" preload=\"none\"><source src=\"http://" + blog + "." + domain + "/video_file/" +
              postId + "/tumblr_" + mediaId + "\" type=\"video/mp4\"></video></div>\n";
    } else if (kind == "photo") {
      page += "    <figure><img src=\"http://" + media + "/tumblr_" + mediaId + "_1280.jpg\" alt=\"照片\"></figure>\n";
    }
    page += "    <div class=\"caption\">\n";
    for (std::size_t p = 0, n = 1 + pick(6); p < n; ++p) {
      page += "      <p>今天的猫咪很可爱，" + words[pick(words.size())] + " and some words about the " +
              words[pick(words.size())] + " of the day. <a href=\"http://" + blog + "." + domain + "/tagged/" +
              words[pick(words.size())] + "\">#" + words[pick(words.size())] + "</a></p>\n";
    }
    page += "    </div>\n  </div>\n  <footer class=\"post-meta\">\n";
    page += "    <a class=\"date\" href=\"http://" + blog + "." + domain + "/post/" + postId + slug + "\">June 1</a>\n";
    page += "    <span class=\"notes-pop-container\"><a class=\"notes\" href=\"http://" + blog + "." + domain +
            "/post/" + postId + slug + "#notes\">" + std::to_string(pick(900)) + " notes</a></span>\n";
    if (withMedia || kind == "photo") {
      page += "    <a class=\"pin\" href=\"http://www." + domain + "/share?url=x&amp;media=http://" + media +
              "/tumblr_" + mediaId + "_500.jpg\">分享</a>\n";
    }
    page += "  </footer>\n</article>\n";
  }
  page += "</section>\n<nav><a href=\"/page/2\">下一页</a></nav>\n</body></html>\n";
  return page;
}

struct Outcome {
  double bestMs = 0;
  long matches = 0;
  long check = 0;
};

Outcome RunMatcher(const Text& page, int rounds) {
  Outcome outcome;
  outcome.bestMs = 1e100;
  const Text pattern = VideoPostPattern();
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    long check = 0;
    int count = 0;
    {
      RegexMatcher matcher;
      matcher.Search(pattern, page);
      count = matcher.MatchCount();
      for (int i = 1; i <= count; ++i) {
        Text id = matcher.SubMatchText(i, 2);
        Text slug = matcher.SubMatchText(i, 4);
        Text mediaId = matcher.SubMatchText(i, 6);
        check += static_cast<long>(id.Length() + mediaId.Length()) + (slug.IsEmpty() ? 0 : 1);
      }
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    outcome.bestMs = std::min(outcome.bestMs, ms);
    outcome.matches = count;
    outcome.check = check;
  }
  return outcome;
}

std::string FindNode() {
  if (const char* configured = std::getenv("BRELLOC_NODE")) return configured;
  for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

bool RunNode(const std::string& node, const std::string& pageUtf8, int rounds, Outcome& outcome) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("brelloc-regex-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path pagePath = dir / "page.html";
  const fs::path patternPath = dir / "pattern.txt";
  std::ofstream(pagePath, std::ios::binary) << pageUtf8;
  std::ofstream(patternPath, std::ios::binary) << TextToUtf8(VideoPostPattern());

  const std::string command = "'" + node + "' '" BRELLOC_REGEX_BENCH_JS "' '" + pagePath.string() + "' '" +
                              patternPath.string() + "' " + std::to_string(rounds);
  bool ok = false;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    ok = std::fscanf(pipe, "%lf %ld %ld", &outcome.bestMs, &outcome.matches, &outcome.check) == 3;
    ok = pclose(pipe) == 0 && ok;
  }
  fs::remove_all(dir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const std::string pageUtf8 = GeneratePage();
  const Text page = TextFromUtf8(pageUtf8);
  std::printf("page: %zu bytes UTF-8, %zu bytes code page 936; best of %d rounds\n", pageUtf8.size(),
              page.Length(), rounds);

  Outcome ours = RunMatcher(page, rounds);
  std::printf("RegexMatcher:  %8.3f ms  (%ld matches, check %ld)\n", ours.bestMs, ours.matches, ours.check);

  const std::string node = FindNode();
  if (node.empty()) {
    std::printf("node RegExp:   skipped (node not found)\n");
    return 0;
  }
  Outcome theirs;
  if (!RunNode(node, pageUtf8, rounds, theirs)) {
    std::printf("node RegExp:   skipped (%s did not run the script)\n", node.c_str());
    return 0;
  }
  std::printf("node RegExp:   %8.3f ms  (%ld matches, check %ld)\n", theirs.bestMs, theirs.matches, theirs.check);
  std::printf("ratio (RegexMatcher / node): %.2f\n", ours.bestMs / theirs.bestMs);
  if (ours.matches != theirs.matches || ours.check != theirs.check) {
    std::printf("MISMATCH: the two disagree about the matches\n");
    return 1;
  }
  return 0;
}
