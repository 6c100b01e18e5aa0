#pragma once
// A helper's billing report as a client sends it: the payload in standard
// Base64, cut into "REPORT msgID i n piece" lines of 800 characters.

#include <openssl/evp.h>

#include <string>
#include <vector>

namespace plimo::testkit {

inline std::string base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  out.resize(size_t(n));
  return out;
}

inline std::vector<std::string> reportLines(const std::string& msgID, const std::string& data) {
  size_t n = (data.size() + 799) / 800;
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) {
    lines.push_back("REPORT " + msgID + " " + std::to_string(i) + " " + std::to_string(n) + " " +
                    data.substr(i * 800, 800));
  }
  return lines;
}

}  // namespace plimo::testkit
