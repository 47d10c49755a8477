// Writes the blogs of the whole-batch benchmark as files for a web server:
//
//   DIR/blogs/<blog>/page/<n>   listing pages, each with its video posts
//   DIR/videos/video.mp4        the body served for every video address
//   DIR/blogs.txt               the blog names, one a line
//   DIR/expected.txt            the video file names a batch should save
//
//   batch_fixture DIR [blogs pages videos-per-page page-bytes video-bytes]
//
// Every video post has a media id and a post id of its own, so a batch over
// all the pages saves one file per post. The pages are laid out as the
// service lays them out (see the harvester's pattern): photo and text posts
// between the video posts, captions in Chinese and English.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Shape {
  int blogs = 200;
  int pages = 3;
  int videosPerPage = 5;
  std::size_t pageBytes = 100 * 1000;
  std::size_t videoBytes = 50 * 1000;
};

std::string BlogName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "benchblog%03d", index);
  return name;
}

// A caption paragraph of some length, mixing Chinese and ASCII.
std::string Paragraph(std::mt19937& random) {
  static const std::vector<std::string> words = {"今天的猫咪", "很可爱", "cat", "video", "weekend",
                                                 "日常", "sleepy", "kitten", "好看", "the garden"};
  std::string text = "      <p>";
  for (int i = 0, n = 20 + static_cast<int>(random() % 30); i < n; ++i) {
    text += words[random() % words.size()];
    text += ' ';
  }
  return text + "</p>\n";
}

std::string Page(const std::string& blog, int blogIndex, int page, const Shape& shape, std::mt19937& random,
                 std::vector<std::string>& expected) {
  const std::string base = "http://" + blog + ".tumblr.com";
  std::string markup = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + blog +
                       " 的博客</title></head>\n<body>\n<header><h1>" + blog +
                       "</h1></header>\n<section id=\"posts\">\n";
  // Room per video post, so that the page reaches its size with the videos
  // spread over it rather than bunched at the top.
  const std::size_t share = shape.pageBytes / static_cast<std::size_t>(shape.videosPerPage);
  long filler = 1;
  for (int video = 0; video < shape.videosPerPage; ++video) {
    const long postId = 800000000000L + blogIndex * 1000L + page * 10L + video;
    const std::string post = std::to_string(postId);
    const std::string mediaId = "bench" + std::to_string(blogIndex) + "x" + std::to_string(page) + "x" +
                                std::to_string(video) + "Qz7";
    // Half the posts have a slug, which names the file; the others are
    // named after the blog and the post.
    const std::string slug = video % 2 == 0 ? "clip-" + post : "";
    expected.push_back(slug.empty() ? blog + "_" + post + ".mp4" : slug + ".mp4");

    const std::size_t postStart = markup.size();
    markup += "<article class=\"video not-page post-" + post + "\" id=\"" + post + "\">\n";
    markup += "  <div class=\"post-content\"><div class=\"video-wrapper\">视频 ▶</div>\n    <div class=\"caption\">\n";
    for (int p = 0; p < 3; ++p) markup += Paragraph(random);
    markup += "    </div>\n  </div>\n";
    markup += "  <span class=\"notes-pop-container\"><a class=\"notes\" href=\"" + base + "/post/" + post +
              (slug.empty() ? "" : "/" + slug) + "#notes\">" + std::to_string(random() % 900) +
              " notes</a></span>\n";
    markup += "  <iframe src=\"" + base + "/video/player?media=http://media.tumblr.com/tumblr_" + mediaId +
              "_frame1.jpg&amp;w=500\"></iframe>\n</article>\n";

    // Photo and text posts up to this post's share of the page.
    while (markup.size() - postStart < share) {
      const std::string other = std::to_string(postId) + std::to_string(filler++);
      const bool photo = random() % 2 == 0;
      markup += "<article class=\"" + std::string(photo ? "photo" : "text") + " not-page post-" + other + "\">\n";
      if (photo) {
        markup += "  <figure><img src=\"http://68.media.tumblr.com/abc/tumblr_p" + other +
                  "_500.jpg\" alt=\"照片\"></figure>\n";
      }
      markup += "  <div class=\"caption\">\n";
      for (int p = 0, n = 1 + static_cast<int>(random() % 4); p < n; ++p) markup += Paragraph(random);
      markup += "  </div>\n  <span class=\"notes-pop-container\"><a href=\"" + base + "/post/" + other +
                "#notes\">1 note</a></span>\n</article>\n";
    }
  }
  return markup + "</section>\n<nav><a href=\"/page/" + std::to_string(page + 1) +
         "\">下一页</a></nav>\n</body></html>\n";
}

bool Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 7) {
    std::fprintf(stderr, "usage: batch_fixture DIR [blogs pages videos-per-page page-bytes video-bytes]\n");
    return 64;
  }
  const fs::path dir = argv[1];
  Shape shape;
  if (argc == 7) {
    shape.blogs = std::atoi(argv[2]);
    shape.pages = std::atoi(argv[3]);
    shape.videosPerPage = std::atoi(argv[4]);
    shape.pageBytes = static_cast<std::size_t>(std::atol(argv[5]));
    shape.videoBytes = static_cast<std::size_t>(std::atol(argv[6]));
  }
  if (shape.blogs < 1 || shape.pages < 1 || shape.videosPerPage < 1) return 64;

  std::mt19937 random(936);
  std::string names;
  std::string expectedList;
  std::error_code error;
  for (int blog = 1; blog <= shape.blogs; ++blog) {
    const std::string name = BlogName(blog);
    names += name + "\n";
    const fs::path pages = dir / "blogs" / name / "page";
    fs::create_directories(pages, error);
    for (int page = 1; page <= shape.pages; ++page) {
      std::vector<std::string> expected;
      if (!Write(pages / std::to_string(page), Page(name, blog, page, shape, random, expected))) return 1;
      for (const std::string& file : expected) expectedList += file + "\n";
    }
  }

  std::string video(shape.videoBytes, '\0');
  for (std::size_t i = 0; i < video.size(); ++i) video[i] = static_cast<char>(random());
  fs::create_directories(dir / "videos", error);
  if (!Write(dir / "videos" / "video.mp4", video)) return 1;
  if (!Write(dir / "blogs.txt", names) || !Write(dir / "expected.txt", expectedList)) return 1;
  return 0;
}
