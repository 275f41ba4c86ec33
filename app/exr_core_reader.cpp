#include "app/exr_core_reader.h"

#include <tbb/parallel_for.h>

#include <mutex>
#include <stdexcept>

namespace {

void Check(exr_result_t rv) {
  if (rv != EXR_ERR_SUCCESS) throw std::runtime_error(exr_get_default_error_message(rv));
}

}  // namespace

ExrCoreReader::ExrCoreReader(const std::string& path) {
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.error_handler_fn = [](exr_const_context_t, exr_result_t, const char*) {};  // errors come back as codes
  Check(exr_start_read(&ctx_, path.c_str(), &init));
}

ExrCoreReader::~ExrCoreReader() { exr_finish(&ctx_); }

void ExrCoreReader::DecodeScanlines(int part, const Imath::Box2i& window, const std::map<std::string, Target>& targets) {
  int32_t lines = 0;
  Check(exr_get_scanlines_per_chunk(ctx_, part, &lines));
  if (lines <= 0) throw std::runtime_error("the part has no lines per chunk");
  const int height = window.max.y - window.min.y + 1, chunks = (height + lines - 1) / lines;
  std::mutex m;
  exr_result_t failure = EXR_ERR_SUCCESS;
  tbb::parallel_for(0, chunks, [&](int i) {
    const exr_result_t rv = DecodeChunk(part, window.min.y + i * lines, window, targets);
    if (rv != EXR_ERR_SUCCESS) {
      std::lock_guard<std::mutex> lock(m);
      failure = rv;
    }
  });
  Check(failure);
}

exr_result_t ExrCoreReader::DecodeChunk(int part, int y, const Imath::Box2i& window,
                                        const std::map<std::string, Target>& targets) {
  const size_t width = size_t(window.max.x - window.min.x + 1);
  exr_chunk_info_t chunk;
  exr_result_t rv = exr_read_scanline_chunk_info(ctx_, part, y, &chunk);
  if (rv != EXR_ERR_SUCCESS) return rv;
  exr_decode_pipeline_t decode = EXR_DECODE_PIPELINE_INITIALIZER;
  rv = exr_decoding_initialize(ctx_, part, &chunk, &decode);
  if (rv == EXR_ERR_SUCCESS) {
    for (int16_t c = 0; c < decode.channel_count; ++c) {
      exr_coding_channel_info_t& ch = decode.channels[c];
      auto t = targets.find(ch.channel_name);
      if (t == targets.end()) continue;  // no target: not decoded
      ch.user_data_type = uint16_t(t->second.type);
      ch.user_bytes_per_element = 4;
      ch.user_pixel_stride = 4;
      ch.user_line_stride = int32_t(4 * width);
      ch.decode_to_ptr = static_cast<uint8_t*>(t->second.plane) + size_t(chunk.start_y - window.min.y) * width * 4;
    }
    rv = exr_decoding_choose_default_routines(ctx_, part, &decode);
  }
  if (rv == EXR_ERR_SUCCESS) rv = exr_decoding_run(ctx_, part, &decode);
  exr_decoding_destroy(ctx_, &decode);
  return rv;
}
