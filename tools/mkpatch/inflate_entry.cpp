#include "tools/mkpatch/inflate_entry.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace launcher::mkpatch {

int InflateLikeUncompress(PackageReader& reader, std::uint32_t compressedSize,
                          std::uint32_t capacity, std::uint64_t& produced, ReadStatus& read,
                          const InflatedPiece& piece) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Z_MEM_ERROR;
    std::vector<Bytef> input(1 << 16);
    std::vector<Bytef> output(1 << 16);
    std::uint32_t inputLeft = compressedSize;
    produced = 0;
    read = ReadStatus::kOk;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.avail_in == 0 && inputLeft > 0) {
            const auto step =
                std::min<std::uint32_t>(inputLeft, static_cast<std::uint32_t>(input.size()));
            read = reader.ReadPayload(input.data(), step);
            if (read != ReadStatus::kOk) break;
            z.next_in = input.data();
            z.avail_in = step;
            inputLeft -= step;
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(
            std::min<std::uint64_t>(output.size(), capacity - produced));
        const uInt room = z.avail_out;
        rc = inflate(&z, Z_NO_FLUSH);
        if (piece && room > z.avail_out) piece(output.data(), room - z.avail_out);
        produced += room - z.avail_out;
    }
    inflateEnd(&z);
    if (read == ReadStatus::kOk && inputLeft > 0) read = reader.SkipPayload(inputLeft);
    // How uncompress() reports the end: input that ran out before the stream
    // ended is damage, a full output buffer is Z_BUF_ERROR (but damage again
    // when the capacity was zero).
    if (rc == Z_STREAM_END) return Z_OK;
    if (rc == Z_NEED_DICT) return Z_DATA_ERROR;
    if (rc == Z_BUF_ERROR && (produced < capacity || capacity == 0)) return Z_DATA_ERROR;
    return rc;
}

}  // namespace launcher::mkpatch
