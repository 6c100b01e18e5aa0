#pragma once
// The target bit rate of the H.264 encoder, from picture size and rate.

namespace plimo {

// kbit/s: 0.12 bit per pixel and picture below 60 pictures a second, 0.08 at
// 60 and above (motion between close pictures costs less), truncated, then kept
// between 2 Mbit/s (small screens stay readable) and 20 Mbit/s.
int h264BitRateKbps(int width, int height, int fps);

}  // namespace plimo
