// An output stream that writes through a File it made itself: mkpatch's
// temporaries are created exclusively, never through a link, and never opened
// again by name.
#pragma once

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

#include "platform/files.h"

namespace launcher::mkpatch {

// Writes through a File, a buffer at a time; seeks for the header fields
// that are filled in afterwards.
class FileBuffer : public std::streambuf {
public:
    explicit FileBuffer(File& file) : file_(file) { setp(bytes_, bytes_ + sizeof bytes_); }

protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        if (size < epptr() - pptr()) return std::streambuf::xsputn(data, size);
        // Large pieces go straight to the file.
        if (!Drain() || !file_.WriteAll(data, static_cast<std::size_t>(size))) return 0;
        return size;
    }
    int sync() override { return Drain() ? 0 : -1; }
    pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode) override {
        if (!Drain()) return pos_type(off_type(-1));
        if (from == std::ios::cur && offset == 0) return pos_type(file_.Position());
        if (from == std::ios::beg && offset >= 0 && file_.Seek(static_cast<std::uint64_t>(offset)))
            return pos_type(offset);
        return pos_type(off_type(-1));
    }
    pos_type seekpos(pos_type position, std::ios::openmode which) override {
        return seekoff(off_type(position), std::ios::beg, which);
    }

private:
    bool Drain() {
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        setp(bytes_, bytes_ + sizeof bytes_);
        return size == 0 || file_.WriteAll(bytes_, size);
    }

    File& file_;
    char bytes_[1 << 16];
};

// The file and its buffer exist before the stream that uses them.
struct FileOstreamParts {
    File file;
    FileBuffer buffer{file};
};

class FileOstream : private FileOstreamParts, public std::ostream {
public:
    FileOstream() : std::ostream(&buffer) {}

    // Creates `path` as File::Mode::kCreateFresh does; false with Problem().
    bool Create(const std::string& path) { return file.Open(path, File::Mode::kCreateFresh); }
    const std::string& Problem() const { return file.Problem(); }
    // Writes what is buffered and closes the file; false if anything failed.
    bool Finish() {
        flush();
        const bool ok = good() && file.IsOpen();
        return file.Close() && ok;
    }
};

}  // namespace launcher::mkpatch
