#pragma once

// The blogging service's host names, fixed settings of the program. The
// blogs live on sub-domains of the domain; pages name their media under the
// media host; the videos are served from the video host.
namespace service_hosts {

inline constexpr char kBlogDomain[] = "tumblr.com";
inline constexpr char kMediaHost[] = "media.tumblr.com";
inline constexpr char kVideoHost[] = "vt.tumblr.com";

}  // namespace service_hosts
