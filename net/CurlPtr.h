// Owners of libcurl's C objects, written once: an easy handle and a header list, each a
// unique_ptr with the matching free call, so every early return releases them.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace tw {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Appends line to list; on failure the list is released and the result is empty.
inline CurlSlistPtr AppendHeader(CurlSlistPtr list, const char* line) {
  curl_slist* grown = curl_slist_append(list.get(), line);
  if (!grown) return nullptr;
  list.release();
  return CurlSlistPtr(grown);
}

}  // namespace tw
