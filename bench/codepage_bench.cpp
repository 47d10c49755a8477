// Utf8ToAnsi over a generated 10 MB blog page (ASCII markup with Chinese
// captions), against glibc's iconv from UTF-8 to CP936 on the same bytes in
// the same run. Prints the best throughput of each and their ratio.
//
//   codepage_bench [rounds]

#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "pagetext/page_decoding.h"

namespace {

constexpr std::size_t kPageSize = 10 * 1024 * 1024;

std::string GeneratePage() {
  const std::vector<std::string> captions = {
      "今天的猫咪视频", "日常", "可爱的小猫在睡觉", "周末", "欢迎关注我的博客", "好看"};
  std::mt19937 random(936);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>猫的博客</title></head>\n<body>\n";
  long id = 700000000000;
  while (page.size() < kPageSize) {
    id += 1 + static_cast<long>(random() % 5000);
    const std::string post = std::to_string(id);
    page += "<article class=\"post post-video\" id=\"post-" + post + "\">\n"
            "  <div class=\"video-wrapper\"><video width=\"500\" height=\"281\" poster=\"https://"
            "media.example.com/tumblr_" + post + "_frame1.jpg\" controls>"
            "<source src=\"https://vt.example.com/tumblr_" + post + ".mp4\" type=\"video/mp4\">"
            "</video></div>\n  <div class=\"caption\"><p>" + captions[random() % captions.size()] +
            "</p></div>\n  <footer><a href=\"https://example.com/post/" + post +
            "\">Permalink</a> <span class=\"notes\">" + std::to_string(random() % 1000) +
            " notes</span></footer>\n</article>\n";
  }
  return page + "</body></html>\n";
}

// Owns an iconv descriptor.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The converted bytes, or an empty string when iconv stops early.
  std::string Convert(const std::string& in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 2, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) return {};
    out.resize(out.size() - dst_left);
    return out;
  }

 private:
  iconv_t cd_;
};

template <class F>
double BestSeconds(int rounds, F&& run) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string page = GeneratePage();
  const Bytes body(page);
  const double megabytes = static_cast<double>(page.size()) / 1e6;

  Iconv iconv_cp936("CP936", "UTF-8");
  if (!iconv_cp936.ok()) {
    std::fprintf(stderr, "iconv has no UTF-8 to CP936 converter\n");
    return 1;
  }
  // Both must give the same text, or the comparison means nothing.
  const std::string reference = iconv_cp936.Convert(page);
  if (reference.empty() || Utf8ToAnsi(body).Bytes() != reference) {
    std::fprintf(stderr, "Utf8ToAnsi and iconv disagree on the page\n");
    return 1;
  }

  std::size_t sink = 0;
  const double ours = BestSeconds(rounds, [&] { sink += Utf8ToAnsi(body).Length(); });
  const double theirs = BestSeconds(rounds, [&] { sink += iconv_cp936.Convert(page).size(); });

  std::printf("page: %.1f MB, best of %d rounds\n", megabytes, rounds);
  std::printf("Utf8ToAnsi:          %8.1f MB/s\n", megabytes / ours);
  std::printf("iconv UTF-8 -> CP936: %7.1f MB/s\n", megabytes / theirs);
  std::printf("ratio:               %8.2fx (target 3x)\n", theirs / ours);
  return sink == 0 ? 1 : 0;
}
