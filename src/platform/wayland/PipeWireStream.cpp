#include "platform/wayland/PipeWireStream.h"

// SPA's pod-building macros are C: compound literals, statement expressions.
#pragma GCC diagnostic ignored "-Wpedantic"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <spa/utils/result.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/Failure.h"
#include "core/StageLog.h"
#include "platform/PointerImage.h"

namespace plimo {

namespace {

constexpr int kStartWaitSeconds = 5;
// Pictures kept for reuse: one in the slot, one being encoded, one being
// made, and the last one made.
constexpr size_t kPoolSize = 4;
// The largest pointer image drawn in (the desktop's own pointers are far
// smaller), and the largest metadata offered: mutter asks for room for 384².
constexpr int kLargestPointer = 512;
constexpr int kLargestPointerMeta = 1024;

constexpr int cursorMetaSize(int width, int height) {
  return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + width * height * 4;
}

// A pointer bitmap as premultiplied ARGB words (blue in the low byte).
bool readPointer(const spa_meta_bitmap& bitmap, PointerImage& pointer) {
  const int w = int(bitmap.size.width), h = int(bitmap.size.height);
  if (w <= 0 || h <= 0 || w > kLargestPointer || h > kLargestPointer || bitmap.stride < w * 4) return false;
  int r, g, b, a;  // byte places in a pixel
  switch (bitmap.format) {
    case SPA_VIDEO_FORMAT_RGBA: r = 0, g = 1, b = 2, a = 3; break;
    case SPA_VIDEO_FORMAT_BGRA: r = 2, g = 1, b = 0, a = 3; break;
    case SPA_VIDEO_FORMAT_ARGB: r = 1, g = 2, b = 3, a = 0; break;
    case SPA_VIDEO_FORMAT_ABGR: r = 3, g = 2, b = 1, a = 0; break;
    default: return false;
  }
  const auto* pixels = SPA_PTROFF(&bitmap, bitmap.offset, const uint8_t);
  pointer.width = w;
  pointer.height = h;
  pointer.argb.resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = pixels + size_t(y) * size_t(bitmap.stride);
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = row + x * 4;
      pointer.argb[size_t(y) * size_t(w) + size_t(x)] =
          uint32_t(p[a]) << 24 | uint32_t(p[r]) << 16 | uint32_t(p[g]) << 8 | uint32_t(p[b]);
    }
  }
  return true;
}

}  // namespace

struct PipeWireStream::Frame {
  pw_thread_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  std::function<void(PictureRef)> onPicture;
  std::function<void(const std::string&)> onEnded;
  // The thread loop's: the stream's state and the last frame.
  pw_stream_state state = PW_STREAM_STATE_CONNECTING;
  std::string error;
  int width = 0, height = 0;
  bool flowed = false;
  // The last picture, the pointer drawn in, and the pixels the pointer
  // covers in it: a frame that only moves the pointer costs one copy.
  std::shared_ptr<Picture> last;
  struct Under {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> pixels;
  } under;
  PointerImage pointer;
  bool pointerShown = false;
  int pointerX = 0, pointerY = 0;
  std::vector<std::shared_ptr<Picture>> pool;

  std::shared_ptr<Picture> freePicture() {
    for (auto& picture : pool)
      if (picture.use_count() == 1 && picture->width == width && picture->height == height) return picture;
    auto picture = std::make_shared<Picture>(width, height);
    if (pool.size() >= kPoolSize) pool.erase(pool.begin());
    pool.push_back(picture);
    return picture;
  }

  void formatChanged(const spa_pod* param) {
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    width = int(info.size.width);
    height = int(info.size.height);
    last.reset();
    under = {};
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[3];
    // Shared memory only: without a GPU nothing here maps DMA-BUFs.
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(64, 64), cursorMetaSize(1, 1),
                                 cursorMetaSize(kLargestPointerMeta, kLargestPointerMeta))));
    pw_stream_update_params(stream, params, 3);
  }

  void readCursor(spa_buffer* buffer) {
    auto* cursor = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (!cursor || cursor->id == 0) return;
    pointerX = cursor->position.x;
    pointerY = cursor->position.y;
    if (cursor->bitmap_offset >= sizeof *cursor) {
      const auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, const spa_meta_bitmap);
      PointerImage image;
      // An empty bitmap hides the pointer.
      pointerShown = readPointer(*bitmap, image);
      if (pointerShown) {
        image.xhot = cursor->hotspot.x;
        image.yhot = cursor->hotspot.y;
        pointer = std::move(image);
      }
    }
  }

  // The frame's pixels into `into`; false when it carries none.
  bool readPixels(spa_buffer* buffer, Picture& into) const {
    if (buffer->n_datas < 1 || width <= 0) return false;
    const spa_data& data = buffer->datas[0];
    if (!data.data || !data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
      return false;  // the pointer only moved
    const size_t stride = data.chunk->stride > 0 ? size_t(data.chunk->stride) : size_t(width) * 4;
    const size_t offset = data.chunk->offset % data.maxsize;
    if (stride < size_t(width) * 4 || offset + stride * size_t(height - 1) + size_t(width) * 4 > data.maxsize)
      return false;
    const auto* pixels = static_cast<const uint8_t*>(data.data) + offset;
    for (int y = 0; y < height; ++y) copyOpaque(into.row(y), pixels + size_t(y) * stride, width);
    return true;
  }

  void keepUnder(const Picture& picture) {
    const int left = std::max(0, pointerX - pointer.xhot), top = std::max(0, pointerY - pointer.yhot);
    const int right = std::min(picture.width, pointerX - pointer.xhot + pointer.width);
    const int bottom = std::min(picture.height, pointerY - pointer.yhot + pointer.height);
    under.x = left, under.y = top, under.width = std::max(0, right - left), under.height = std::max(0, bottom - top);
    under.pixels.resize(size_t(under.width) * size_t(under.height) * 4);
    for (int y = 0; y < under.height; ++y)
      std::memcpy(under.pixels.data() + size_t(y) * size_t(under.width) * 4, picture.row(under.y + y) + under.x * 4,
                  size_t(under.width) * 4);
  }

  void restoreUnder(Picture& picture) const {
    for (int y = 0; y < under.height; ++y)
      std::memcpy(picture.row(under.y + y) + under.x * 4, under.pixels.data() + size_t(y) * size_t(under.width) * 4,
                  size_t(under.width) * 4);
  }

  void process() {
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (!b) return;
    stageMark("wake");
    readCursor(b->buffer);
    auto picture = freePicture();
    const bool fresh = readPixels(b->buffer, *picture);
    pw_stream_queue_buffer(stream, b);
    if (!fresh) {
      if (!last) return;
      std::memcpy(picture->pixels.data(), last->pixels.data(), last->pixels.size());
      restoreUnder(*picture);
    }
    under = {};
    if (pointerShown) {
      keepUnder(*picture);
      drawPointer(*picture, pointer, pointerX, pointerY);
    }
    last = picture;
    onPicture(std::move(picture));
    stageMark("slot");
  }

  void stateChanged(pw_stream_state now, const char* why) {
    state = now;
    if (now == PW_STREAM_STATE_STREAMING) flowed = true;
    if (now == PW_STREAM_STATE_ERROR) error = why ? why : "error";
    if (flowed && (now == PW_STREAM_STATE_ERROR || now == PW_STREAM_STATE_UNCONNECTED))
      onEnded(now == PW_STREAM_STATE_ERROR ? "the picture stream failed: " + error : "the picture stream ended");
    pw_thread_loop_signal(loop, false);
  }
};

namespace {

const pw_stream_events kEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
    static_cast<PipeWireStream::Frame*>(data)->stateChanged(state, error);
  };
  events.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param) static_cast<PipeWireStream::Frame*>(data)->formatChanged(param);
  };
  events.process = [](void* data) { static_cast<PipeWireStream::Frame*>(data)->process(); };
  return events;
}();

}  // namespace

PipeWireStream::PipeWireStream(int fd, uint32_t node, int width, int height,
                               std::function<void(PictureRef)> onPicture,
                               std::function<void(const std::string&)> onEnded)
    : frame_(std::make_unique<Frame>()) {
  static std::once_flag initialized;
  std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
  frame_->onPicture = std::move(onPicture);
  frame_->onEnded = std::move(onEnded);
  loop_ = pw_thread_loop_new("plimo.pipewire", nullptr);
  frame_->loop = loop_;
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
  if (!context_ || pw_thread_loop_start(loop_) < 0) {
    if (fd >= 0) close(fd);
    release();
    throw Failure(Failure::Kind::unsupported, "PipeWire cannot be started");
  }
  pw_thread_loop_lock(loop_);
  core_ = fd >= 0 ? pw_context_connect_fd(context_, fd, nullptr, 0) : pw_context_connect(context_, nullptr, 0);
  std::string failed;
  if (!core_) failed = "PipeWire cannot be reached";
  if (core_) {
    stream_ = pw_stream_new(core_, "Plimo",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                              PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    frame_->stream = stream_;
    pw_stream_add_listener(stream_, &frame_->listener, &kEvents, frame_.get());
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size = SPA_RECTANGLE(uint32_t(width), uint32_t(height)), least = SPA_RECTANGLE(1, 1),
                  most = SPA_RECTANGLE(16384, 16384);
    spa_fraction rate = SPA_FRACTION(60, 1), slowest = SPA_FRACTION(0, 1), fastest = SPA_FRACTION(1000, 1);
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &least, &most), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)));
    int r = pw_stream_connect(stream_, PW_DIRECTION_INPUT, node,
                              pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
    if (r < 0) failed = std::string("PipeWire refused the picture stream: ") + spa_strerror(r);
    while (failed.empty() && !frame_->flowed) {
      if (frame_->state == PW_STREAM_STATE_ERROR) {
        failed = "PipeWire refused the picture stream: " + frame_->error;
      } else if (pw_thread_loop_timed_wait(loop_, kStartWaitSeconds) != 0) {
        failed = "PipeWire gave no picture stream in time";
      }
    }
  }
  pw_thread_loop_unlock(loop_);
  if (!failed.empty()) {
    release();
    throw Failure(Failure::Kind::unsupported, failed);
  }
}

PipeWireStream::~PipeWireStream() { release(); }

void PipeWireStream::release() {
  if (!loop_) return;
  pw_thread_loop_lock(loop_);
  if (stream_) {
    spa_hook_remove(&frame_->listener);
    pw_stream_destroy(stream_);
    stream_ = nullptr;
  }
  if (core_) {
    pw_core_disconnect(core_);
    core_ = nullptr;
  }
  pw_thread_loop_unlock(loop_);
  pw_thread_loop_stop(loop_);
  if (context_) pw_context_destroy(context_);
  context_ = nullptr;
  pw_thread_loop_destroy(loop_);
  loop_ = nullptr;
}

}  // namespace plimo
