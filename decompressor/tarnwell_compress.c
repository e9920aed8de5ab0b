/* The decompressor library: exports `uncompress` with zlib's signature and
 * result convention. Built on libdeflate where it is available, whose
 * one-shot inflater is about twice as fast as zlib's on the same streams;
 * otherwise on the system's zlib. Everything else stays hidden. */
#include <zlib.h>

#ifdef TARNWELL_WITH_LIBDEFLATE
#include <libdeflate.h>
#endif

#ifdef _WIN32
/* The static zlib linked into the DLL has an `uncompress` of its own: ours is
 * exported under that name by tarnwell_compress.def instead. */
#define TARNWELL_UNCOMPRESS tarnwell_uncompress
#define TARNWELL_EXPORT
#else
#define TARNWELL_UNCOMPRESS uncompress
#define TARNWELL_EXPORT __attribute__((visibility("default")))
#endif

TARNWELL_EXPORT int TARNWELL_UNCOMPRESS(unsigned char* dest, unsigned long* destLen,
                                        const unsigned char* source, unsigned long sourceLen) {
#ifdef TARNWELL_WITH_LIBDEFLATE
    /* A decompressor object per call: the launcher calls from several threads,
     * and one object costs a small allocation next to a whole entry. */
    struct libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    if (!inflater) return Z_MEM_ERROR;
    size_t consumed = 0;
    size_t produced = 0;
    enum libdeflate_result result = libdeflate_zlib_decompress_ex(
        inflater, source, sourceLen, dest, *destLen, &consumed, &produced);
    libdeflate_free_decompressor(inflater);
    switch (result) {
        case LIBDEFLATE_SUCCESS:
            *destLen = (unsigned long)produced;
            return Z_OK;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            /* As zlib: a stream that does not fit is a buffer error, except
             * into no room at all, which zlib reports as a data error. */
            return *destLen == 0 ? Z_DATA_ERROR : Z_BUF_ERROR;
        default:
            return Z_DATA_ERROR; /* malformed, cut short, or a wrong checksum */
    }
#else
    uLongf produced = (uLongf)*destLen;
    int result = uncompress2(dest, &produced, source, &sourceLen);
    *destLen = (unsigned long)produced;
    return result;
#endif
}
