#pragma once

#include <string>

namespace tt {

// An RTMP address as it may be written to a log: the server and its application stay, the stream
// key (the path after the application, a query, a user and password) becomes "…". A whole address
// pasted into the key field ("rtmp://a/app/rtmp://b/app/KEY") and an address whose only path element
// is the key ("rtmp://host/KEY") lose their key too; text that is not an address is hidden whole.
std::string sinClave(const std::string& url);

}  // namespace tt
