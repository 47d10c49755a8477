#include "engine/video_post_pattern.h"

#include "engine/service_hosts.h"

Text VideoPostPattern() {
  return Text(R"(<article class="(.*?video.*?)post-[\s\S]*?<span class="notes-pop-container">[\s\S]*?)") +
         Text(service_hosts::kBlogDomain) + Text(R"(/post/(\d+)(/)?(.*?)#notes[\s\S]*?(media=http://)") +
         Text(service_hosts::kMediaHost) + Text(R"(/tumblr_(.*?)_[\s\S]*?)?</article>)");
}
