#pragma once
// SHA-256 of bytes that come in pieces (a file read or received chunk by
// chunk), so that no whole file is held to hash it.

#include <memory>

#include "core/Bytes.h"

struct evp_md_ctx_st;

namespace plimo {

class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;

  void add(ByteView bytes);
  // The 32-byte digest of everything added; the stream starts afresh.
  Bytes finish();

 private:
  struct Free {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

}  // namespace plimo
