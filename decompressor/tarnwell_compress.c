/* The decompressor library: exports `uncompress` with zlib's signature and
 * result convention, on the system's zlib. Everything else stays hidden. */
#include <zlib.h>

__attribute__((visibility("default"))) int uncompress(unsigned char* dest, unsigned long* destLen,
                                                      const unsigned char* source,
                                                      unsigned long sourceLen) {
    uLongf produced = (uLongf)*destLen;
    int result = uncompress2(dest, &produced, source, &sourceLen);
    *destLen = (unsigned long)produced;
    return result;
}
