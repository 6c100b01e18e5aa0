#include "platform/ffmpeg/ImageFiles.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/ffmpeg/FfmpegPtr.h"

namespace plimo::ImageFiles {

namespace {

// The decoder for a file, told by its first bytes; libavcodec's image
// decoders each take a whole file as one packet.
AVCodecID codecOf(const std::vector<uint8_t>& file) {
  auto starts = [&](std::initializer_list<uint8_t> magic, size_t at = 0) {
    return file.size() >= at + magic.size() && std::equal(magic.begin(), magic.end(), file.begin() + long(at));
  };
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return AV_CODEC_ID_PNG;
  if (starts({0xFF, 0xD8, 0xFF})) return AV_CODEC_ID_MJPEG;
  if (starts({'B', 'M'})) return AV_CODEC_ID_BMP;
  if (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'E', 'B', 'P'}, 8)) return AV_CODEC_ID_WEBP;
  if (starts({'I', 'I', 0x2A, 0x00}) || starts({'M', 'M', 0x00, 0x2A})) return AV_CODEC_ID_TIFF;
  return AV_CODEC_ID_NONE;
}

std::optional<std::vector<uint8_t>> readFile(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size == 0 || size > kMaxFileBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size))) return std::nullopt;
  bytes.resize(size);
  return bytes;
}

// The file's first picture as libavcodec decodes it.
FfmpegPtr<AVFrame> decode(std::vector<uint8_t>& file) {
  const AVCodec* codec = avcodec_find_decoder(codecOf(file));
  if (!codec) return nullptr;
  FfmpegPtr<AVCodecContext> context(avcodec_alloc_context3(codec));
  FfmpegPtr<AVPacket> packet(av_packet_alloc());
  FfmpegPtr<AVFrame> frame(av_frame_alloc());
  if (!context || !packet || !frame) return nullptr;
  context->max_pixels = kMaxPixels;
  context->thread_count = 1;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  const size_t size = file.size();
  file.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  packet->data = file.data();
  packet->size = int(size);
  if (avcodec_send_packet(context.get(), packet.get()) < 0) return nullptr;
  avcodec_send_packet(context.get(), nullptr);
  if (avcodec_receive_frame(context.get(), frame.get()) < 0) return nullptr;
  if (frame->width < 1 || frame->height < 1) return nullptr;
  return frame;
}

}  // namespace

std::optional<Picture> read(const std::string& path, const std::function<Size(int width, int height)>& fit) {
  auto file = readFile(path);
  if (!file) return std::nullopt;
  auto frame = decode(*file);
  if (!frame) return std::nullopt;
  const Size size = fit(frame->width, frame->height);
  const int width = int(size.width), height = int(size.height);
  if (width < 1 || height < 1 || int64_t(width) * height > kMaxPixels) return std::nullopt;
  FfmpegPtr<SwsContext> scaler(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), width,
                                              height, AV_PIX_FMT_BGRA,
                                              SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                              nullptr, nullptr));
  if (!scaler) return std::nullopt;
  Picture picture(width, height);
  uint8_t* planes[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {picture.stride, 0, 0, 0};
  if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != height)
    return std::nullopt;
  // Over black, as a picture drawn into a zero-filled bitmap.
  for (size_t i = 0; i < picture.pixels.size(); i += 4) {
    const unsigned alpha = picture.pixels[i + 3];
    for (size_t c = 0; c < 3; ++c) picture.pixels[i + c] = uint8_t((picture.pixels[i + c] * alpha + 127) / 255);
    picture.pixels[i + 3] = 255;
  }
  return picture;
}

bool writePng(const std::string& path, const Picture& picture) {
  if (picture.width < 1 || picture.height < 1) return false;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) return false;
  FfmpegPtr<AVCodecContext> context(avcodec_alloc_context3(codec));
  FfmpegPtr<AVFrame> frame(av_frame_alloc());
  FfmpegPtr<AVPacket> packet(av_packet_alloc());
  if (!context || !frame || !packet) return false;
  context->width = picture.width;
  context->height = picture.height;
  context->pix_fmt = AV_PIX_FMT_RGB24;
  context->time_base = {1, 1};
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  frame->format = AV_PIX_FMT_RGB24;
  frame->width = picture.width;
  frame->height = picture.height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* from = picture.row(y);
    uint8_t* to = frame->data[0] + size_t(y) * size_t(frame->linesize[0]);
    for (int x = 0; x < picture.width; ++x, from += 4, to += 3) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0 ||
      avcodec_receive_packet(context.get(), packet.get()) < 0)
    return false;
  const std::string part = path + ".part";
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (!out) return false;
  const bool written = std::fwrite(packet->data, 1, size_t(packet->size), out) == size_t(packet->size);
  if (std::fclose(out) != 0 || !written || std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    return false;
  }
  return true;
}

}  // namespace plimo::ImageFiles
