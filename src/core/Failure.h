#pragma once
// The two ways an operation fails, everywhere in the tree:
// - a thrown Failure (this file), for work deep below the one boundary that
//   can act on it;
// - a Result<T> (core/Result.h), for the store, files and parsers whose
//   callers act on each outcome and must tell "absent" from "failed".
//
// An operation that cannot do its work (a stream that does not inflate, an
// encoder that does not open, a display that cannot be reached) throws a
// Failure. It travels up to the session or link that asked for the work,
// which catches it and turns it into a log line and, when the user must
// know, a text. Thrown rather than returned: these calls sit deep (the
// inflater under the tile canvas under the viewer session), fail rarely,
// include constructors, and only the boundary can do anything about them, so
// every layer in between stays a plain call with a plain result.
//
// Not failures: a packet that does not open, a key that does not parse, a
// peek at bytes that are not there. Receivers ignore malformed input, so
// those are the ordinary answer of a query: an empty optional.

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace plimo {

class Failure : public std::exception {
 public:
  enum class Kind {
    // Bytes from a partner that are not what they claim to be.
    corrupt,    // a zlib stream that does not inflate
    badUpdate,  // a screen update outside its format
    badKey,     // a key of the wrong length, or not a point on P-256
    // H.264 through libavcodec; the code is its status (a negative AVERROR).
    h264Create,     // no encoder opens for this size
    h264Encode,     // a picture cannot be encoded
    h264Decode,     // a frame cannot be decoded
    h264NoSession,  // a frame cannot be wrapped for the decoder
    // The system.
    noServer,     // the X display cannot be reached
    noDisplay,    // no screen to capture
    unsupported,  // the screen's pixel format cannot be captured
    noXTest,      // the X server cannot play input
    noSound,      // PulseAudio cannot play or record; the code is its error
  };

  Failure(Kind kind, std::string text, int32_t code = 0) : kind_(kind), code_(code), text_(std::move(text)) {}

  // What failed: what callers branch on.
  Kind kind() const { return kind_; }
  // The library's status where it gave one, else 0.
  int32_t code() const { return code_; }
  // For the log, in the words of the place that failed, e.g. "encode(-22)",
  // bad("Screen update cut short"), "The X display cannot be reached".
  const std::string& text() const { return text_; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  Kind kind_;
  int32_t code_;
  std::string text_;
};

}  // namespace plimo
