#pragma once
// A libcurl failure as the user reads it: a Portuguese sentence, then libcurl's own words
// in parentheses for whoever reads the logs.
#include <QString>
#include <curl/curl.h>

namespace srv {

// "o servidor fechou a conexão sem responder (Server returned nothing (no headers, no data))";
// detail: libcurl's error buffer when it said more than the code's text.
QString curlReason(CURLcode code, const char* detail = nullptr);

} // namespace srv
