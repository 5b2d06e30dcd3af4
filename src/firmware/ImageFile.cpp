#include "firmware/ImageFile.h"

namespace pelmux {

namespace {

// What one read of readToEnd asks for.
constexpr std::uint32_t readPiece = 64 * 1024;

} // namespace

ImageFile::ImageFile(const char* name, bool exclusive) : handle_(platform::openImageFile(name, exclusive)) {}

ImageFile::~ImageFile()
{
    if (isOpen())
        platform::closeHandle(handle_);
}

bool ImageFile::size(std::uint64_t& bytes) const
{
    return isOpen() && platform::fileSize(handle_, &bytes);
}

bool ImageFile::read(std::uint64_t count, std::string& text)
{
    text.assign(static_cast<std::size_t>(count), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        std::uint32_t arrived = 0;
        if (!platform::readHandle(handle_, text.data() + got, static_cast<std::uint32_t>(text.size() - got),
                                  &arrived) ||
            arrived == 0)
            return false;
        got += arrived;
    }
    return true;
}

bool ImageFile::readToEnd(std::string& text)
{
    text.clear();
    for (;;) {
        const std::size_t had = text.size();
        // A file larger than a string can hold is as much as memory can hold.
        if (had > text.max_size() - readPiece)
            throw std::bad_alloc();
        text.resize(had + readPiece);
        std::uint32_t arrived = 0;
        const bool read = platform::readHandle(handle_, text.data() + had, readPiece, &arrived);
        text.resize(had + (read ? arrived : 0));
        if (!read)
            return false;
        if (arrived == 0)
            return true;
    }
}

} // namespace pelmux
